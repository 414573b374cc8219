// The panel link's entries of the queue's links (queue/QueueLinks.h): the keep-alive and goodbye
// requests of the queue window, the processing of their answers, and the retry count of a panel
// command. InitQueue installs them before it makes the queue window.
#pragma once

void installPanelQueueLinks();
