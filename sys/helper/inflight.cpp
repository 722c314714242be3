#include "inflight.h"

#include "corvane_result.h"
#include "guard.h"
#include "journal.h"

#include <systemd/sd-bus.h>
#include <utility>

namespace corvane::helper {

Inflight::~Inflight() {
    for (auto& [id, p] : pending_) {
        sd_bus_slot_unref(p.slot);
        sd_bus_message_unref(p.request);
    }
}

Inflight::Start Inflight::start(sd_bus_message* m, Asked asked) {
    if (!admission_.admit(asked.sender, asked.uid))
        return Start::Busy;
    const uint64_t id = next_++;
    Pending& p = pending_[id];
    p.owner = this;
    p.id = id;
    p.asked = std::move(asked);
    if (askPolkit(asker_, &p.slot, p.asked.sender.c_str(), p.asked.action, p.asked.interactive,
                  p.asked.details, &Inflight::answered, &p) < 0) {
        admission_.release(p.asked.sender, p.asked.uid);
        pending_.erase(id);
        return Start::Failed;
    }
    p.request = sd_bus_message_ref(m);
    return Start::Asked;
}

int Inflight::answered(sd_bus_message* reply, void* userdata, sd_bus_error*) noexcept {
    auto& p = *static_cast<Pending*>(userdata);
    Inflight& self = *p.owner;
    try {
        self.finish(p, verdictOf(reply));
    } catch (...) {
        // Out of memory while answering: the caller is answered below all the same.
        sd_bus_reply_method_return(p.request, "u", ERROR_NOT_ENOUGH_MEMORY);
    }
    self.admission_.release(p.asked.sender, p.asked.uid);
    sd_bus_slot_unref(p.slot);
    sd_bus_message_unref(p.request);
    self.pending_.erase(p.id);
    return 0;
}

void Inflight::finish(Pending& p, Verdict verdict) {
    const Asked& a = p.asked;
    DWORD result = ERROR_HELPER_FAILED;
    switch (verdict) {
    case Verdict::Allowed:
        result = sys::guarded(a.change);
        logChange(a.uid, a.what, result);
        break;
    case Verdict::NotAllowed:
        result = ERROR_HELPER_NOT_ALLOWED;
        logRefusal(a.uid, a.what, "not authorised", result);
        break;
    case Verdict::NotAuthenticated:
        result = ERROR_HELPER_NOT_AUTHENTICATED;
        logRefusal(a.uid, a.what, "not authenticated", result);
        break;
    case Verdict::Failed:
        logRefusal(a.uid, a.what, "polkit did not answer", result);
        break;
    }
    if (a.reply)
        a.reply(p.request, result);
    else
        sd_bus_reply_method_return(p.request, "u", result);
}

} // namespace corvane::helper
