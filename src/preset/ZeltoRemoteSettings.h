#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "preset/QVXMLElement.h"

namespace zelto {

// One routing entry, element "Channel": local channel -> remote channel (999: not routed).
class ZeltoChannelMap : public QVXMLElement {
  public:
    static constexpr std::uint64_t notRouted = 999;

    std::uint64_t local = 0;
    std::uint64_t remote = notRouted;

    ZeltoChannelMap(std::uint64_t local, std::uint64_t remote);
    explicit ZeltoChannelMap(const QVXMLElement& element);
    explicit ZeltoChannelMap(QVXMLElement&& element);

    QVXMLElement toElement() const;
    // Appends exactly what toElement().serialize(level) gives, without building the tree.
    void writeXML(std::string& out, int level) const;
    // "<local> -> <remote>"
    std::string description() const override;
};

// The input and output routing maps, element "RemoteSettings".
class ZeltoRemoteSettings : public QVXMLElement {
  public:
    ZeltoRemoteSettings();
    explicit ZeltoRemoteSettings(const QVXMLElement& element);
    explicit ZeltoRemoteSettings(QVXMLElement&& element);

    const std::vector<ZeltoChannelMap>& inputMap() const noexcept { return inputMap_; }
    const std::vector<ZeltoChannelMap>& outputMap() const noexcept { return outputMap_; }

    // Routes `local` to `remote` (taking `remote` away from any other local channel), or unroutes
    // it when `remote` is absent.
    void setInputMap(std::uint64_t local, std::optional<std::uint64_t> remote);
    void setOutputMap(std::uint64_t local, std::optional<std::uint64_t> remote);

    std::optional<std::uint64_t> lin2rin(std::uint64_t local) const noexcept;
    std::optional<std::uint64_t> rin2lin(std::uint64_t remote) const noexcept;
    std::optional<std::uint64_t> lout2rout(std::uint64_t local) const noexcept;
    std::optional<std::uint64_t> rout2lout(std::uint64_t remote) const noexcept;

    // Adds the entry 0 -> 999 to a non-empty map that lacks local 0, so this changes the maps.
    QVXMLElement toElement();
    // Appends exactly what toElement().serialize(level) gives, without building the tree.
    void writeXML(std::string& out, int level);

  private:
    void read(QVXMLElement&& element);
    void addLocalZero();

    std::vector<ZeltoChannelMap> inputMap_;
    std::vector<ZeltoChannelMap> outputMap_;
};

}  // namespace zelto
