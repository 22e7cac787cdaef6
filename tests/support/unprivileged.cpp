#include "support/unprivileged.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pictarre::test {

UnprivilegedRun runUnprivileged(const std::function<std::string()>& body)
{
    if (::geteuid() != 0)
        return {{}, body()};
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr)
        return {"running as root and there is no user \"nobody\" to drop to", {}};
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return {std::string("running as root and no pipe to a child: ") + std::strerror(errno), {}};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(77);
        const std::string output = body();
        for (std::size_t done = 0; done < output.size();) {
            const ssize_t n = ::write(ends[1], output.data() + done, output.size() - done);
            if (n <= 0)
                ::_exit(1);
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(ends[1]);
    UnprivilegedRun run;
    char buffer[4096];
    for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
        run.output.append(buffer, static_cast<std::size_t>(n));
    ::close(ends[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return {"running as root and no child could be started to drop privileges in", {}};
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        return {"running as root and setuid to \"nobody\" was refused", {}};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        run.output += "<the unprivileged run did not end normally>";
    return run;
}

}  // namespace pictarre::test
