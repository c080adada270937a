#pragma once

#include "core/Protocol.h"

#include <QByteArray>

// A policy as one MSG_ADMIN_POLICY carried it. Immutable, and shared by
// every agent that took in the same datagram, so a group of thousands
// decodes and stores it once.
class HeldPolicy final
{
public:
    explicit HeldPolicy(Protocol::PolicyContent content);

    uint32_t version() const { return content_.version; }
    const std::array<QStringList, 3>& lists() const { return content_.lists; }
    // The three lists as a compact JSON array of arrays of strings.
    const QByteArray& listsJson() const { return listsJson_; }
    static const QByteArray& emptyListsJson();

private:
    Protocol::PolicyContent content_;
    // Built once: the report writes it for every agent holding the policy.
    QByteArray listsJson_;
};
