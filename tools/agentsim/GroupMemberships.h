#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/address_v4.hpp>
#include <asio/ip/udp.hpp>
#include <cstdint>
#include <memory>
#include <system_error>
#include <unordered_map>
#include <vector>

// Multicast group memberships of the simulator. Linux lets one socket join
// only igmp_max_memberships groups (20 by default), so further groups are
// joined through extra unbound sockets; the receiving socket, bound to the
// wildcard address with IP_MULTICAST_ALL, still gets every group joined on
// the interface by any of them.
class GroupMemberships final
{
public:
    // `receiver` must outlive this object.
    GroupMemberships(asio::io_context& io, asio::ip::udp::socket& receiver, asio::ip::address_v4 interfaceAddress);
    GroupMemberships(const GroupMemberships&) = delete;
    GroupMemberships& operator=(const GroupMemberships&) = delete;

    // Group addresses in the protocol's form: network-order bytes in memory.
    // Joining a group already joined does nothing.
    bool join(uint32_t group, std::error_code& error);
    void leave(uint32_t group);
    int joinedCount() const { return static_cast<int>(holders_.size()); }
    int extraSocketCount() const { return static_cast<int>(extra_.size()); }

private:
    static constexpr int OnReceiver = -1;

    asio::io_context& io_;
    asio::ip::udp::socket& receiver_;
    asio::ip::address_v4 interface_;
    std::vector<std::unique_ptr<asio::ip::udp::socket>> extra_;
    // group -> OnReceiver or the index into extra_ of the socket that joined it
    std::unordered_map<uint32_t, int> holders_;
};
