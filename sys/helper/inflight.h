// The requests waiting on polkit. Each holds its request message, answered when polkit
// is, and the change to make then, which owns copies of all it needs: the handler that
// read the request has long returned by the time it runs.
#pragma once

#include "admission.h"
#include "authority.h"
#include "corvane_types.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <systemd/sd-bus.h>

namespace corvane::helper {

struct Asked {
    std::string sender;
    uid_t uid = 0;
    const char* action = nullptr;
    bool interactive = false;
    std::string details; // for the authentication agent
    std::string what;    // for the journal
    std::function<DWORD()> change;
    // Answers the request with the result; empty: the one code ("u").
    std::function<int(sd_bus_message*, DWORD)> reply;
};

class Inflight {
public:
    Inflight(sd_bus* asker, AdmissionLimits limits = {}) : asker_(asker), admission_(limits) {}
    Inflight(const Inflight&) = delete;
    Inflight& operator=(const Inflight&) = delete;
    // Cancels what still waits; its callers get no answer (the helper is going).
    ~Inflight();

    enum class Start { Asked, Busy, Failed };
    // Asks polkit about the request m (referenced until answered); Busy past a limit and
    // Failed when polkit could not be asked: then m is the caller's to answer.
    Start start(sd_bus_message* m, Asked asked);
    bool empty() const { return pending_.empty(); }
    bool wouldAdmit(const std::string& sender, uid_t uid) const {
        return admission_.wouldAdmit(sender, uid);
    }

private:
    struct Pending {
        Inflight* owner = nullptr;
        uint64_t id = 0;
        sd_bus_message* request = nullptr;
        sd_bus_slot* slot = nullptr;
        Asked asked;
    };
    static int answered(sd_bus_message* reply, void* userdata, sd_bus_error*) noexcept;
    void finish(Pending& p, Verdict verdict);

    sd_bus* asker_;
    Admission admission_;
    uint64_t next_ = 0;
    std::map<uint64_t, Pending> pending_;
};

} // namespace corvane::helper
