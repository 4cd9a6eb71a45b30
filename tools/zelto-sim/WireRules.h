#pragma once

// What a mixer accepts. Every datagram is read here, byte by byte and without
// the application's codec or constants, and checked against the protocol's
// wire facts, so that a fault on the application's side cannot hide behind a
// matching fault in the code that reads it back.

#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace zelto::sim {

using WireValue = std::variant<std::int32_t, std::string, std::vector<std::uint8_t>, bool>;

struct WireMessage {
    std::string address;
    std::string tags;  // the type tag string, "," included
    std::vector<WireValue> values;
    bool inBundle = false;

    std::int32_t integer(std::size_t i) const { return std::get<std::int32_t>(values.at(i)); }
    const std::string& text(std::size_t i) const { return std::get<std::string>(values.at(i)); }
    const std::vector<std::uint8_t>& blob(std::size_t i) const {
        return std::get<std::vector<std::uint8_t>>(values.at(i));
    }
    bool truth(std::size_t i) const { return std::get<bool>(values.at(i)); }
    // OSCMessage(address, values: ["text", 1, 1000 bytes, true])
    std::string description() const;
};

// The messages of one datagram; when the datagram breaks a rule, `refusal`
// says which and `subject` describes what broke it.
struct WireDatagram {
    std::vector<WireMessage> messages;
    std::string refusal;
    std::string subject;
};

WireDatagram readDatagram(std::span<const std::uint8_t> data);

}  // namespace zelto::sim
