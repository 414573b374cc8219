// The supervision prompts in the queue's links (queue/QueueLinks.h): the inactivity prompt, the
// panel event warning and the refresh of a running warning, run by their engines (with their
// windows when the views are installed, alone otherwise). InitQueue installs them.
#pragma once

void installSupervisionQueueLinks();
