// Root classes: `TObject` (class name, virtual destruction) and `TPersistent` (copying one object
// into another through Assign/AssignTo).
#pragma once

#include <string>

namespace nv {

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;

    // The unqualified C++ class name ("TNvStringList"), found from the dynamic type, so classes need
    // not override it. Inside a destructor it names the class whose destructor is running.
    virtual std::string ClassName() const;
};

// Copying between unrelated classes is a two-way negotiation: the target's `Assign` knows the
// sources it can take; anything else is offered to the source's `AssignTo`, which knows the
// targets it can fill. If neither side knows the other, the base `AssignTo` refuses with
// EConvertError "Cannot assign a <source class> to a <target class>" ("nil" for no source).
class TPersistent : public TObject {
public:
    virtual void Assign(TPersistent* source);

protected:
    virtual void AssignTo(TPersistent* dest);
    // Raises the refusal with this object as the target.
    [[noreturn]] void AssignError(const TPersistent* source) const;
};

}  // namespace nv
