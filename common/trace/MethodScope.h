// The "Enter" record of a method, written when the scope begins, and its
// "Leave" record, written when the scope ends, with the texts
// "Method <name> has been entered." and "Method <name> has been left.", where
// <name> is the part of the scope ("Class::Method") after "::".
//
//   MethodScope method("CThing::Get", TraceLevel::Info, "bType: %d", type);
//   ...
//   method.Leave("hRes: 0x%X, RetVal: %d", hr, retVal); // details of the Leave record
//   return hr;
//
// The Leave record is written after every object that the method declared
// after the scope has been destroyed, and before those declared earlier. An
// exit that writes no Leave record calls Dismiss(); one that must write it
// before the method's other objects go calls WriteLeave().
#pragma once

#include <cstring>
#include <string>

#include "common/trace/Trace.h"

class MethodScope {
public:
    template <typename... Args>
    explicit MethodScope(const char* scope, unsigned level = TraceLevel::Info, const char* enterDetails = "",
                         Args... args)
        : scope_(scope), level_(level), leaveLevel_(level) {
        if (TraceWanted(level)) Trace(level, scope, "Enter", Text("entered").c_str(), enterDetails, args...);
    }
    MethodScope(const MethodScope&) = delete;
    MethodScope& operator=(const MethodScope&) = delete;
    ~MethodScope() { WriteLeave(); }

    const char* Scope() const { return scope_; }

    // What the Leave record carries: details with up to two numbers, and a
    // level of its own where it differs from the Enter record's.
    void Leave(const char* details, unsigned a = 0, unsigned b = 0) { Leave(level_, details, a, b); }
    void Leave(unsigned level, const char* details, unsigned a = 0, unsigned b = 0) {
        leaveLevel_ = level;
        details_ = details;
        a_ = a;
        b_ = b;
    }
    // The Leave record goes without its text.
    void OmitLeaveText() { withText_ = false; }
    // No Leave record at all.
    void Dismiss() { pending_ = false; }
    // Writes the Leave record now instead of at the end of the scope.
    void WriteLeave() {
        if (pending_ && TraceWanted(leaveLevel_))
            Trace(leaveLevel_, scope_, "Leave", withText_ ? Text("left").c_str() : "", details_, a_, b_);
        pending_ = false;
    }

private:
    std::string Text(const char* what) const {
        const char* name = std::strstr(scope_, "::");
        return std::string("Method ") + (name ? name + 2 : scope_) + " has been " + what + ".";
    }

    const char* scope_;
    unsigned level_;
    unsigned leaveLevel_;
    const char* details_ = "";
    unsigned a_ = 0;
    unsigned b_ = 0;
    bool withText_ = true;
    bool pending_ = true;
};
