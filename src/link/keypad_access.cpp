#include "keypad.h"

#include <boost/asio/ip/address.hpp>

#include <cstring>

namespace {

bool InV4Range(const boost::asio::ip::address_v4& a, unsigned long net, unsigned bits)
{
    const unsigned long mask = bits == 0 ? 0 : 0xFFFFFFFFul << (32 - bits);
    return (a.to_ulong() & mask) == net;
}

bool IsHomeV4(const boost::asio::ip::address_v4& a)
{
    return InV4Range(a, 0x7F000000ul, 8) || InV4Range(a, 0x0A000000ul, 8) ||
           InV4Range(a, 0xAC100000ul, 12) || InV4Range(a, 0xC0A80000ul, 16) ||
           InV4Range(a, 0xA9FE0000ul, 16);
}

} // namespace

bool IsHomeAddress(const std::string& text)
{
    boost::system::error_code error;
    const boost::asio::ip::address a = boost::asio::ip::make_address(text, error);
    if (error) return false;
    if (a.is_v4()) return IsHomeV4(a.to_v4());
    const boost::asio::ip::address_v6 v6 = a.to_v6();
    // A dual-stack socket reports an IPv4 peer in this form.
    if (v6.is_v4_mapped())
        return IsHomeV4(boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, v6));
    const boost::asio::ip::address_v6::bytes_type b = v6.to_bytes();
    return v6.is_loopback() || (b[0] & 0xFE) == 0xFC || (b[0] == 0xFE && (b[1] & 0xC0) == 0x80);
}

bool SameKeypadKey(const std::string& given, const std::string& expected)
{
    // Every byte is looked at whatever the first difference, so the time
    // tells a guesser nothing; only the length, which is no secret, counts early.
    if (given.size() != expected.size() || expected.empty()) return false;
    unsigned char differ = 0;
    for (size_t i = 0; i < expected.size(); ++i)
        differ |= static_cast<unsigned char>(given[i] ^ expected[i]);
    return differ == 0;
}

std::string KeyEventLine(const std::string& message)
{
    if (message.size() != 3 || message[0] == '\0' || !std::strchr(KEYPAD_KEY_NAMES, message[0]) ||
        message[1] != ',' || (message[2] != '0' && message[2] != '1'))
        return "";
    return "+CKEV: " + message;
}

bool IsPagesOrigin(const std::string& origin, const std::string& host, uint16_t port)
{
    if (origin != "http://" + host) return false;
    const std::string suffix = ":" + std::to_string(port);
    if (host.size() <= suffix.size() || host.compare(host.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    std::string name = host.substr(0, host.size() - suffix.size());
    if (name == "localhost") return true;
    // An address, never a name: a name could be made to point here by anyone's DNS.
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    boost::system::error_code error;
    boost::asio::ip::make_address(name, error);
    return !error;
}
