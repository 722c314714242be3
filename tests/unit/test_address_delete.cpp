// Which addresses a delete would take along, and the order of the kernel steps that keep them:
// promotion on only where needed, set back after, and no delete when it cannot be turned on.
#include "address_delete.h"
#include "corvane_result.h"

#include <arpa/inet.h>
#include <cerrno>
#include <gtest/gtest.h>
#include <linux/if_addr.h>
#include <string>

using namespace corvane::sys;

namespace {

nl::Address address(const char* text, uint8_t prefix, bool secondary, uint32_t index = 3) {
    nl::Address a;
    a.index = index;
    a.address = ::inet_addr(text);
    a.prefixLength = prefix;
    a.flags = secondary ? IFA_F_SECONDARY : 0;
    return a;
}

NteKey key(const char* text, uint8_t prefix, uint32_t index = 3) {
    return NteKey{index, ::inet_addr(text), prefix};
}

const std::vector<nl::Address> world = {
    address("192.168.77.125", 24, false), address("192.168.77.200", 24, true),
    address("192.168.77.201", 24, true),  address("192.168.77.202", 25, false),
    address("10.0.0.1", 8, false),        address("192.168.77.203", 24, true, 4),
};

// Records the steps as letters: r read, p promotion read, + and - promotion set, d delete.
struct Recorder {
    std::string log;
    bool promotionOn = false;
    int readError = 0, setError = 0, removeError = 0;
    AddressDeleteSteps steps() {
        AddressDeleteSteps s;
        s.readAddresses = [this](std::vector<nl::Address>& out) {
            log += 'r';
            out = world;
            return 0;
        };
        s.readPromotion = [this](bool& on) {
            log += 'p';
            on = promotionOn;
            return readError;
        };
        s.setPromotion = [this](bool on) {
            log += on ? '+' : '-';
            return setError;
        };
        s.remove = [this] {
            log += 'd';
            return removeError;
        };
        return s;
    }
};

TEST(AddressDelete, APrimaryTakesTheSecondariesOfItsNetworkAndMaskOnly) {
    const std::vector<nl::Address> along = takenAlong(world, key("192.168.77.125", 24));
    ASSERT_EQ(along.size(), 2u);
    EXPECT_EQ(along[0].address, ::inet_addr("192.168.77.200"));
    EXPECT_EQ(along[1].address, ::inet_addr("192.168.77.201"));
    EXPECT_TRUE(takenAlong(world, key("192.168.77.200", 24)).empty()) << "a secondary goes alone";
    EXPECT_TRUE(takenAlong(world, key("192.168.77.202", 25)).empty()) << "another mask";
    EXPECT_TRUE(takenAlong(world, key("10.0.0.1", 8)).empty());
    EXPECT_TRUE(takenAlong(world, key("192.168.77.125", 24, 4)).empty()) << "another interface";
    EXPECT_TRUE(takenAlong(world, key("192.168.77.9", 24)).empty()) << "not there at all";
}

TEST(AddressDelete, PromotionIsTurnedOnForTheDeleteAndBackWhereNeeded) {
    const struct {
        const char* name;
        NteKey key;
        bool promotionOn;
        int readError, setError, removeError;
        const char* log;
        DWORD result;
    } cases[] = {
        {"primary with secondaries", key("192.168.77.125", 24), false, 0, 0, 0, "rp+d-", NO_ERROR},
        {"promotion already on", key("192.168.77.125", 24), true, 0, 0, 0, "rpd", NO_ERROR},
        {"a secondary", key("192.168.77.200", 24), false, 0, 0, 0, "rd", NO_ERROR},
        {"a primary alone", key("10.0.0.1", 8), false, 0, 0, 0, "rd", NO_ERROR},
        {"gone meanwhile", key("192.168.77.125", 24), false, 0, 0, EADDRNOTAVAIL, "rp+d-",
         ERROR_NOT_FOUND},
        {"refused", key("192.168.77.125", 24), false, 0, 0, EPERM, "rp+d-", ERROR_ACCESS_DENIED},
        // Nothing deleted when the others cannot be kept.
        {"setting refused", key("192.168.77.125", 24), false, 0, EINVAL, 0, "rp+",
         ERROR_WOULD_DELETE_OTHERS},
        {"no privilege", key("192.168.77.125", 24), false, 0, EPERM, 0, "rp+", ERROR_ACCESS_DENIED},
        {"setting unreadable", key("192.168.77.125", 24), false, EOPNOTSUPP, 0, 0, "rp",
         ERROR_WOULD_DELETE_OTHERS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder r;
        r.promotionOn = c.promotionOn;
        r.readError = c.readError;
        r.setError = c.setError;
        r.removeError = c.removeError;
        EXPECT_EQ(deleteKeepingOthers(c.key, r.steps()), c.result);
        EXPECT_EQ(r.log, c.log);
    }
}

TEST(AddressDelete, AnUnreadableAddressListDeletesNothing) {
    Recorder r;
    AddressDeleteSteps s = r.steps();
    s.readAddresses = [](std::vector<nl::Address>&) { return ENOBUFS; };
    EXPECT_EQ(deleteKeepingOthers(key("192.168.77.125", 24), s), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(r.log, "");
}

} // namespace
