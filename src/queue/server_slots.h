#pragma once
// The recognition servers as the scheduler sees them: one slot each, beside
// the local workers. A slot set aside after a fault takes nothing until its
// time is up.

#include <QString>

class ServerSlots {
public:
    virtual ~ServerSlots() = default;
    virtual int slotCount() const = 0;
    virtual bool slotAvailable(int slot) const = 0;
    // Shown beside the file the slot has in hand, e.g. "192.168.1.20:8080".
    virtual QString machine(int slot) const = 0;
};
