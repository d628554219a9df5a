// The "Enter" record of a method, written when the scope begins, and its
// "Leave" record, written when the scope ends. The component's own classes
// write "Method <name> has been entered." and "Method <name> has been left.",
// where <name> is the part of the scope ("Class::Method") after "::"; the
// common classes write "Method <name> has been called" in both, at level
// InfoCC.
//
//   MethodScope method("CThing::Get", TraceLevel::Info, "bType: %d", type);
//   ...
//   method.Leave("hRes: 0x%X, RetVal: %d", hr, retVal); // details of the Leave record
//   return hr;
//
//   MethodScope method("CCThing::Load", MethodScope::Called{});
//
// The Leave record is written after every object that the method declared
// after the scope has been destroyed, and before those declared earlier. A
// method left by an exception writes none, nor does an exit that calls
// Dismiss(); one that must write it before the method's other objects go
// calls WriteLeave().
#pragma once

#include <cstring>
#include <exception>
#include <string>

#include "common/trace/Trace.h"

class MethodScope {
public:
    // The common classes' form, with the name their texts give the method
    // where it is not the one in the scope.
    struct Called {
        const char* name = nullptr;
    };

    template <typename... Args>
    explicit MethodScope(const char* scope, unsigned level = TraceLevel::Info, const char* enterDetails = "",
                         Args... args)
        : scope_(scope), level_(level), leaveLevel_(level) {
        Enter(enterDetails, args...);
    }
    template <typename... Args>
    MethodScope(const char* scope, Called called, const char* enterDetails = "", Args... args)
        : scope_(scope), level_(TraceLevel::InfoCC), leaveLevel_(level_), called_(true), name_(called.name) {
        Enter(enterDetails, args...);
    }
    MethodScope(const MethodScope&) = delete;
    MethodScope& operator=(const MethodScope&) = delete;
    ~MethodScope() {
        if (pending_ && TraceWanted(leaveLevel_) && std::uncaught_exceptions() == exceptions_) WriteLeave();
    }

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
    template <typename... Args> void Enter(const char* details, Args... args) {
        if (!TraceWanted(level_)) return;
        exceptions_ = std::uncaught_exceptions();
        if constexpr (sizeof...(Args) == 0)
            Trace(level_, scope_, "Enter", Text("entered").c_str(), "%s",
                  details); // no format without arguments
        else
            Trace(level_, scope_, "Enter", Text("entered").c_str(), details, args...);
    }
    std::string Text(const char* what) const {
        const char* method = std::strstr(scope_, "::");
        const std::string text = std::string("Method ") + (name_ ? name_ : method ? method + 2 : scope_);
        return called_ ? text + " has been called" : text + " has been " + what + ".";
    }

    const char* scope_;
    unsigned level_;
    unsigned leaveLevel_;
    bool called_ = false;
    const char* name_ = nullptr;
    const char* details_ = "";
    unsigned a_ = 0;
    unsigned b_ = 0;
    bool withText_ = true;
    bool pending_ = true;
    int exceptions_ = 0; // in flight at the start
};
