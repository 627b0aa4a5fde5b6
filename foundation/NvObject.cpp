#include "foundation/NvObject.h"

#include <cstdlib>
#include <memory>
#include <typeinfo>

#if defined(__GNUC__)
#include <cxxabi.h>
#endif

#include "foundation/NvExceptions.h"

namespace nv {

std::string TObject::ClassName() const {
    const char* raw = typeid(*this).name();
    std::string name = raw;
#if defined(__GNUC__)
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(raw, nullptr, nullptr, &status),
                                                     std::free);
    if (status == 0 && demangled)
        name = demangled.get();
#endif
    // Drop namespaces and any "class " prefix: the user knows the class as "TNvStringList".
    auto pos = name.rfind("::");
    if (pos != std::string::npos)
        name.erase(0, pos + 2);
    pos = name.rfind(' ');
    if (pos != std::string::npos)
        name.erase(0, pos + 1);
    return name;
}

void TPersistent::Assign(TPersistent* source) {
    if (source == nullptr)
        AssignError(nullptr);
    source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* dest) {
    if (dest == nullptr)
        throw EConvertError("Cannot assign a " + ClassName() + " to a nil");
    dest->AssignError(this);
}

void TPersistent::AssignError(const TPersistent* source) const {
    std::string sourceName = source ? source->ClassName() : std::string("nil");
    throw EConvertError("Cannot assign a " + sourceName + " to a " + ClassName());
}

}  // namespace nv
