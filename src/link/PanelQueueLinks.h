// The panel link's entries of the queue's links (queue/QueueLinks.h): the keep-alive and goodbye
// requests of the queue window, the processing of their answers, the retry count of a panel
// command and what the queue console shows of it. InitQueue installs them before it makes the
// queue window.
#pragma once

void installPanelQueueLinks();
