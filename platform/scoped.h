// A flag that holds a value for one scope.
#pragma once

// Sets a flag for a scope and puts the old value back however the scope ends,
// also by an exception.
class TScopedFlag {
public:
    explicit TScopedFlag(bool& flag, bool value = true) : FFlag(flag), FOld(flag) { flag = value; }
    ~TScopedFlag() { FFlag = FOld; }
    TScopedFlag(const TScopedFlag&) = delete;
    TScopedFlag& operator=(const TScopedFlag&) = delete;

private:
    bool& FFlag;
    bool FOld;
};
