// A supervision prompt (the inactivity count-down, the panel event warning) while it runs, with or
// without its window. The queue reaches it through this interface: a panel event abandons the
// inactivity prompt, the end of the session ends both; no answer is taken either way.
#pragma once

class SessionPrompt
{
public:
    virtual ~SessionPrompt() = default;
    // Ends the prompt as its window's close box does.
    virtual void closePrompt() = 0;
};
