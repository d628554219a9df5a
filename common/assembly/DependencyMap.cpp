#include "DependencyMap.h"

#include <mbstring.h>

bool CCNoCaseLess::operator()(const std::string& a, const std::string& b) const {
    return _mbsicmp(reinterpret_cast<const unsigned char*>(a.c_str()),
                    reinterpret_cast<const unsigned char*>(b.c_str())) < 0;
}
