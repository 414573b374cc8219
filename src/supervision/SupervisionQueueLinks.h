// The supervision windows in the queue's links (queue/QueueLinks.h): the inactivity prompt, the
// panel event warning and the refresh of an open warning. InitQueue installs them.
#pragma once

void installSupervisionQueueLinks();
