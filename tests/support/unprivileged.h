#pragma once

#include <functional>
#include <string>

namespace pictarre::test {

// What a piece of a test gave when run as an ordinary user, or why it could not be run as one.
struct UnprivilegedRun {
    std::string skipped;  // empty when it ran
    std::string output;
};

// Runs `body` with an ordinary user's permissions, for checks that permission bits stop it: in
// this process when it is not root, else in a forked child that has dropped to the user
// "nobody" (`skipped` says why when that is impossible). The body's text comes back through a
// pipe; a child that does not end normally appends a note saying so.
UnprivilegedRun runUnprivileged(const std::function<std::string()>& body);

}  // namespace pictarre::test
