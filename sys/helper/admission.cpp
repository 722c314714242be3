#include "admission.h"

namespace corvane::helper {
namespace {

template <typename Map, typename Key> void drop(Map& counts, const Key& key) {
    const auto found = counts.find(key);
    if (found == counts.end())
        return;
    // Gone at zero: the maps hold only who waits now.
    if (--found->second == 0)
        counts.erase(found);
}

} // namespace

bool Admission::wouldAdmit(const std::string& sender, uid_t uid) const {
    const auto count = [](const auto& counts, const auto& key) -> std::size_t {
        const auto found = counts.find(key);
        return found == counts.end() ? 0 : found->second;
    };
    return total_ < limits_.total && count(byUid_, uid) < limits_.perUid &&
           count(bySender_, sender) < limits_.perSender;
}

bool Admission::admit(const std::string& sender, uid_t uid) {
    if (!wouldAdmit(sender, uid))
        return false;
    ++bySender_[sender];
    ++byUid_[uid];
    ++total_;
    return true;
}

void Admission::release(const std::string& sender, uid_t uid) {
    if (total_ == 0)
        return;
    drop(bySender_, sender);
    drop(byUid_, uid);
    --total_;
}

} // namespace corvane::helper
