#include "GroupMemberships.h"

#include <QtEndian>
#include <asio/ip/multicast.hpp>

namespace {

asio::ip::address_v4 groupAddress(uint32_t networkOrder)
{
    return asio::ip::address_v4(qFromBigEndian(networkOrder));
}

bool isFull(const std::error_code& error)
{
    return error == asio::error::no_buffer_space;
}

} // namespace

GroupMemberships::GroupMemberships(
    asio::io_context& io, asio::ip::udp::socket& receiver, asio::ip::address_v4 interfaceAddress)
    : io_(io)
    , receiver_(receiver)
    , interface_(interfaceAddress)
{
}

bool GroupMemberships::join(uint32_t group, std::error_code& error)
{
    error.clear();
    if (holders_.count(group))
        return true;
    const asio::ip::multicast::join_group option(groupAddress(group), interface_);

    receiver_.set_option(option, error);
    if (!error) {
        holders_.emplace(group, OnReceiver);
        return true;
    }
    if (!isFull(error))
        return false;

    for (size_t i = 0; i < extra_.size(); ++i) {
        extra_[i]->set_option(option, error);
        if (!error) {
            holders_.emplace(group, static_cast<int>(i));
            return true;
        }
        if (!isFull(error))
            return false;
    }

    auto socket = std::make_unique<asio::ip::udp::socket>(io_);
    socket->open(asio::ip::udp::v4(), error);
    if (!error)
        socket->set_option(option, error);
    if (error)
        return false;
    extra_.push_back(std::move(socket));
    holders_.emplace(group, static_cast<int>(extra_.size() - 1));
    return true;
}

void GroupMemberships::leave(uint32_t group)
{
    const auto it = holders_.find(group);
    if (it == holders_.end())
        return;
    const asio::ip::multicast::leave_group option(groupAddress(group), interface_);
    std::error_code ignored;
    if (it->second == OnReceiver)
        receiver_.set_option(option, ignored);
    else
        extra_[static_cast<size_t>(it->second)]->set_option(option, ignored);
    holders_.erase(it);
}
