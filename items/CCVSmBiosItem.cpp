#include "CCVSmBiosItem.h"

#include "common/trace/Trace.h"

AppendResult CCVSmBiosItem::Decode(IAttributeSink& sink) const {
    Trace(TraceLevel::Info, Scope(), "Enter", "Method GetTypeInstanceData has been entered.", "");
    if (!Accepts()) {
        Trace(TraceLevel::Info, Scope(), "Leave", "Method GetTypeInstanceData has been left.",
              "hRes: E_FAIL");
        return kRefused;
    }
    AttributeWriter w(*this, sink, Scope());
    w.Header();
    Attributes(w);
    Trace(TraceLevel::Info, Scope(), "Leave", "Method GetTypeInstanceData has been left.", "hRes: 0x%X",
          static_cast<unsigned>(w.Result()));
    return w.Result();
}
