#pragma once

#include <QtGlobal>

// Limits on new machines, so that made-up MACs cannot fill the registry: a
// lab PC has one or two network cards, and a room of sixty booting at once
// stays far below the rate. A refused agent gets no record and registers
// again when the console next asks it to. Network thread only.
class RegistrationGate final
{
public:
    static constexpr int MaxPerAddress = 4;
    static constexpr int MaxPerSecond = 200;

    enum class Verdict { Admitted, AddressFull, TooFast };

    // `atAddress`: machines the registry already holds at the sender's address.
    Verdict admit(int atAddress, qint64 nowMs)
    {
        if (atAddress >= MaxPerAddress)
            return Verdict::AddressFull;
        const qint64 second = nowMs / 1000;
        if (second != current_second) {
            current_second = second;
            admitted = 0;
        }
        if (admitted >= MaxPerSecond)
            return Verdict::TooFast;
        ++admitted;
        return Verdict::Admitted;
    }

private:
    qint64 current_second = -1;
    int admitted = 0;
};
