// Interoperability with an independent OSC implementation: what we encode
// must decode there, and what it encodes must decode here, byte for byte.

#include <gtest/gtest.h>
#include <lo/lo.h>
#include <lo/lo_lowlevel.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <string>

#include "osc/OSCBundle.h"

namespace zelto {
namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

std::vector<std::uint8_t> takeBytes(void* data, std::size_t size) {
    std::unique_ptr<void, FreeDeleter> owner(data);
    auto* p = static_cast<const std::uint8_t*>(data);
    return std::vector<std::uint8_t>(p, p + size);
}

lo_timetag toLiblo(std::uint64_t t) {
    return lo_timetag{static_cast<std::uint32_t>(t >> 32), static_cast<std::uint32_t>(t)};
}

std::uint64_t fromLiblo(lo_timetag t) {
    return (std::uint64_t{t.sec} << 32) | t.frac;
}

lo_message toLiblo(const OSCMessage& message) {
    lo_message m = lo_message_new();
    for (const auto& v : message.values()) {
        switch (v.kind()) {
            case OSCValueKind::Int32:
            case OSCValueKind::Int:
                lo_message_add_int32(m, static_cast<std::int32_t>(*v.asInt()));
                break;
            case OSCValueKind::Int64:
                lo_message_add_int64(m, *v.asInt64());
                break;
            case OSCValueKind::Float:
                lo_message_add_float(m, *v.asFloat());
                break;
            case OSCValueKind::Bool:
                *v.asBool() ? lo_message_add_true(m) : lo_message_add_false(m);
                break;
            case OSCValueKind::String:
                lo_message_add_string(m, std::string(*v.asString()).c_str());
                break;
            case OSCValueKind::UInt64:
                lo_message_add_timetag(m, toLiblo(*v.asUInt64()));
                break;
            case OSCValueKind::Data: {
                auto data = *v.asData();
                lo_blob blob = lo_blob_new(static_cast<std::int32_t>(data.size()), data.data());
                lo_message_add_blob(m, blob);
                lo_blob_free(blob);
                break;
            }
        }
    }
    return m;
}

// liblo's argument pointers are only 4-byte aligned: read them by copying.
template <class T>
T read(const lo_arg* arg) {
    T value;
    std::memcpy(&value, arg, sizeof value);
    return value;
}

OSCMessage fromLiblo(const char* path, const char* types, lo_arg** argv, int argc) {
    std::vector<OSCValue> values;
    for (int i = 0; i < argc; ++i) {
        switch (types[i]) {
            case 'i':
                values.emplace_back(read<std::int32_t>(argv[i]));
                break;
            case 'h':
                values.emplace_back(read<std::int64_t>(argv[i]));
                break;
            case 'f':
                values.emplace_back(read<float>(argv[i]));
                break;
            case 's':
                values.emplace_back(reinterpret_cast<const char*>(argv[i]));
                break;
            case 'T':
                values.emplace_back(true);
                break;
            case 'F':
                values.emplace_back(false);
                break;
            case 't':
                values.push_back(OSCValue::timeTag(fromLiblo(read<lo_timetag>(argv[i]))));
                break;
            case 'b': {
                auto blob = reinterpret_cast<lo_blob>(argv[i]);
                auto* data = static_cast<const std::uint8_t*>(lo_blob_dataptr(blob));
                values.push_back(OSCValue::blob(std::span<const std::uint8_t>(data, lo_blob_datasize(blob))));
                break;
            }
            default:
                ADD_FAILURE() << "unexpected tag " << types[i];
        }
    }
    return *OSCMessage::make(path, values);
}

// Our model of what arrives: the platform Int travels as an Int32.
OSCMessage asReceived(const OSCMessage& m) {
    std::vector<OSCValue> values;
    for (const auto& v : m.values()) {
        values.push_back(v.kind() == OSCValueKind::Int ? OSCValue(static_cast<std::int32_t>(*v.asInt())) : v);
    }
    return OSCMessage(m.address(), values);
}

void expectInterop(const OSCMessage& message) {
    SCOPED_TRACE(message.description());
    const auto ours = message.encode();

    int result = 0;
    lo_message decoded = lo_message_deserialise(const_cast<std::uint8_t*>(ours.data()), ours.size(), &result);
    ASSERT_NE(decoded, nullptr) << "liblo rejected our bytes: " << result;
    EXPECT_EQ(fromLiblo(std::string(message.address().address()).c_str(), lo_message_get_types(decoded),
                        lo_message_get_argv(decoded), lo_message_get_argc(decoded)),
              asReceived(message));
    lo_message_free(decoded);

    // liblo cannot build an empty blob; that direction is covered by the other kinds.
    for (const auto& v : message.values()) {
        if (v.asData() && v.asData()->empty()) return;
    }
    lo_message built = toLiblo(message);
    std::size_t size = 0;
    void* raw = lo_message_serialise(built, std::string(message.address().address()).c_str(), nullptr, &size);
    lo_message_free(built);
    const auto theirs = takeBytes(raw, size);
    EXPECT_EQ(OSCMessage::from(theirs), asReceived(message));
    EXPECT_EQ(theirs, ours);
}

std::vector<std::uint8_t> sequence(std::size_t n) {
    std::vector<std::uint8_t> data(n);
    for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>(255 - i);
    return data;
}

TEST(CodecLibloInterop, EachArgumentKind) {
    const std::vector<OSCValue> values{0,
                                       -1,
                                       std::numeric_limits<std::int32_t>::min(),
                                       std::numeric_limits<std::int32_t>::max(),
                                       OSCValue::integer((std::int64_t{7} << 32) | 9),
                                       OSCValue(std::int64_t{-1}),
                                       OSCValue(std::numeric_limits<std::int64_t>::min()),
                                       0.0f,
                                       -0.5f,
                                       3.4e38f,
                                       std::numeric_limits<float>::denorm_min(),
                                       true,
                                       false,
                                       "",
                                       "abc",
                                       "abcd",
                                       "Stage Left \xC3\xA9\xE2\x82\xAC",
                                       OSCValue::blob(sequence(0)),
                                       OSCValue::blob(sequence(1)),
                                       OSCValue::blob(sequence(3)),
                                       OSCValue::blob(sequence(4)),
                                       OSCValue::blob(sequence(1000)),
                                       OSCValue::timeTag(OSCTimeTagNow),
                                       OSCValue::timeTag(0x83AA7E8012345678ull)};
    for (const auto& v : values) expectInterop(*OSCMessage::make("/ZELTOapp/value", {v}));
}

TEST(CodecLibloInterop, ManyArguments) {
    std::vector<OSCValue> values;
    for (int i = 0; i < 19; ++i) {
        values.emplace_back(i * 1000 - 7);
        values.emplace_back("user " + std::to_string(i));
        values.emplace_back(i % 2 == 0);
        values.emplace_back(static_cast<float>(i) / 8);
    }
    values.push_back(OSCValue::blob(sequence(17)));
    expectInterop(*OSCMessage::make("/ZELTOapp/control/UserInfo", values));
    expectInterop(*OSCMessage::make("/a"));
}

// What liblo's dispatcher reports while walking a bundle.
struct Walk {
    std::vector<std::string> events;

    static int onMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
                         void* self) {
        static_cast<Walk*>(self)->events.push_back(fromLiblo(path, types, argv, argc).description());
        return 0;
    }
    static int onStart(lo_timetag time, void* self) {
        static_cast<Walk*>(self)->events.push_back("start " + std::to_string(fromLiblo(time)));
        return 0;
    }
    static int onEnd(void* self) {
        static_cast<Walk*>(self)->events.push_back("end");
        return 0;
    }
};

void expectedWalk(const OSCObject& object, std::vector<std::string>& events) {
    if (const auto* m = object.message()) {
        events.push_back(asReceived(*m).description());
        return;
    }
    events.push_back("start " + std::to_string(object.bundle()->timetag()));
    for (const auto& element : object.bundle()->elements()) expectedWalk(element, events);
    events.push_back("end");
}

// liblo keeps the path pointers it is given, so `paths` must outlive the bundle.
lo_bundle toLiblo(const OSCBundle& bundle, std::deque<std::string>& paths) {
    lo_bundle b = lo_bundle_new(toLiblo(bundle.timetag()));
    for (const auto& element : bundle.elements()) {
        if (const auto* m = element.message()) {
            lo_bundle_add_message(b, paths.emplace_back(m->address().address()).c_str(), toLiblo(*m));
        } else {
            lo_bundle_add_bundle(b, toLiblo(*element.bundle(), paths));
        }
    }
    return b;
}

TEST(CodecLibloInterop, NestedBundles) {
    // Time tags in the past, so liblo dispatches at once.
    OSCBundle innermost(3, {*OSCMessage::make("/c", {"deep", 3})});
    OSCBundle inner(2, {*OSCMessage::make("/b/1", {1.5f}), *OSCMessage::make("/b/2")});
    inner.add(innermost);
    OSCBundle outer(OSCTimeTagNow);
    outer.add(*OSCMessage::make("/Zo/Ping", {9112, "qv42"}));
    outer.add(inner);
    outer.add(*OSCMessage::make("/z", {OSCValue::blob(sequence(6))}));
    const auto ours = outer.encode();

    lo_server server = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
    ASSERT_NE(server, nullptr);
    Walk walk;
    lo_server_add_method(server, nullptr, nullptr, &Walk::onMessage, &walk);
    lo_server_add_bundle_handlers(server, &Walk::onStart, &Walk::onEnd, &walk);
    EXPECT_GT(lo_server_dispatch_data(server, const_cast<std::uint8_t*>(ours.data()), ours.size()), 0);
    lo_server_free(server);
    std::vector<std::string> expected;
    expectedWalk(OSCObject(outer), expected);
    EXPECT_EQ(walk.events, expected);

    std::deque<std::string> paths;
    lo_bundle built = toLiblo(outer, paths);
    std::size_t size = 0;
    void* raw = lo_bundle_serialise(built, nullptr, &size);
    const auto theirs = takeBytes(raw, size);
    lo_bundle_free_recursive(built);
    EXPECT_EQ(theirs, ours);
    EXPECT_EQ(OSCBundle::from(theirs), outer);
}

}  // namespace
}  // namespace zelto
