#include "CCVSmBiosItem.h"

#include "common/trace/MethodScope.h"

AppendResult CCVSmBiosItem::Decode(IAttributeSink& sink) const {
    // The scope is asked once: a virtual call per trace statement would cost
    // something even while tracing is off.
    MethodScope method(Scope());
    if (!Accepts()) {
        method.Leave("hRes: E_FAIL");
        return kRefused;
    }
    AttributeWriter w(*this, sink, method.Scope());
    w.Header();
    Attributes(w);
    method.Leave("hRes: 0x%X", static_cast<unsigned>(w.Result()));
    return w.Result();
}
