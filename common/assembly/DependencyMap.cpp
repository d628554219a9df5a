#include "DependencyMap.h"

#include <mbstring.h>

bool CCNoCaseLess::operator()(const char* a, const char* b) const {
    return _mbsicmp(reinterpret_cast<const unsigned char*>(a), reinterpret_cast<const unsigned char*>(b)) < 0;
}
