// The panel link's entries of the queue's links (queue/QueueLinks.h): the keep-alive and goodbye
// requests of the message queue, the processing of their answers, the retry count of a panel
// command and what the queue console shows of it. InitQueue installs them before it makes the
// message queue.
#pragma once

void installPanelQueueLinks();
