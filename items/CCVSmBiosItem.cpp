#include "CCVSmBiosItem.h"

#include "common/trace/Trace.h"

AppendResult CCVSmBiosItem::Decode(IAttributeSink& sink) const {
    // Asked once: a virtual call per trace statement would cost something
    // even while tracing is off.
    const char* const scope = Scope();
    Trace(TraceLevel::Info, scope, "Enter", "Method GetTypeInstanceData has been entered.", "");
    if (!Accepts()) {
        Trace(TraceLevel::Info, scope, "Leave", "Method GetTypeInstanceData has been left.", "hRes: E_FAIL");
        return kRefused;
    }
    AttributeWriter w(*this, sink, scope);
    w.Header();
    Attributes(w);
    Trace(TraceLevel::Info, scope, "Leave", "Method GetTypeInstanceData has been left.", "hRes: 0x%X",
          static_cast<unsigned>(w.Result()));
    return w.Result();
}
