#pragma once
// The hourglass cursor for the life of the object: restored on every way out of a scope.
namespace klv {

class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace klv
