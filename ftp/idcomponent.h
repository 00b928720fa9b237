// Base of everything that raises the FTP client's notifications: handlers
// receive it as their sender.
#pragma once

class TIdBaseComponent {
public:
    virtual ~TIdBaseComponent() = default;
};
