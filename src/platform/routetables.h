// Names of the kernel's routing tables, as the platform library reads them, by number.
#pragma once

#include "platform/iphelper.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace corvane {

class RouteTableNames {
public:
    // Replaces what is known with what the library reads now; without its entry point (an
    // older library) no table has a name.
    void load(IpHelper& table = iphlp());
    // The table's name, else its number in decimal.
    std::string name(uint32_t table) const;
    bool empty() const { return names_.empty(); }
    // The numbers that have a name, in order.
    std::vector<uint32_t> ids() const;

private:
    std::map<uint32_t, std::string> names_;
};

} // namespace corvane
