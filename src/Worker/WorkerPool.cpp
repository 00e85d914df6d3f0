// SPDX-License-Identifier: GPL-3.0-or-later
#include "Worker/WorkerPool.h"

#include "Runtime/ProcessLimits.h"

#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>

extern char** environ;

struct WorkerPool::Worker {
    pid_t pid = -1;
    FileDescriptor socket;
    std::unique_ptr<QSocketNotifier> notifier;
    std::unique_ptr<QTimer> deadline;
    Done done; // set while a request is in flight
    WorkerProtocol::RequestKind kind = WorkerProtocol::RequestKind::inspect;
};

namespace {

constexpr int workerSocket = 3;

// The environment as it is, plus glibc's huge-page tunable: a 12-MP image's
// buffers pass the largest mmap threshold, and faulting them in 4 KiB pages
// costs a sixth of a HEIC's CPU time. Tunables are read only at exec, which
// a worker is started with anyway.
std::vector<std::string> workerEnvironment() {
    std::vector<std::string> environment;
    std::string tunables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view variable(*entry);
        if (variable.starts_with("GLIBC_TUNABLES="))
            tunables = variable.substr(15);
        else
            environment.emplace_back(variable);
    }
    if (ProcessLimits::kernelGivesHugePagesOnRequest() &&
        tunables.find("glibc.malloc.hugetlb") == std::string::npos)
        tunables += (tunables.empty() ? "" : ":") + std::string("glibc.malloc.hugetlb=1");
    if (!tunables.empty())
        environment.push_back("GLIBC_TUNABLES=" + tunables);
    return environment;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

bool isExecutable(const std::filesystem::path& path) {
    return !path.empty() && ::access(path.c_str(), X_OK) == 0;
}

} // namespace

WorkerPool::WorkerPool(QObject* parent)
    : QObject(parent), m_idleLimit(ProcessLimits::parallelismLimit()) {}

WorkerPool::~WorkerPool() {
    endAll();
}

std::filesystem::path WorkerPool::executable() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    std::vector<std::filesystem::path> candidates;
    if (!error) {
        candidates.push_back(self.parent_path() / "burisora-worker");
        candidates.push_back(self.parent_path().parent_path() / "libexec/burisora/burisora-worker");
    }
    // Started through the dynamic loader, /proc/self/exe names the loader.
    candidates.emplace_back(BURISORA_WORKER_INSTALLED);
    candidates.emplace_back(BURISORA_WORKER_BUILT);
    const auto found = std::find_if(candidates.begin(), candidates.end(), isExecutable);
    return found == candidates.end() ? std::filesystem::path() : *found;
}

std::chrono::milliseconds WorkerPool::timeLimit(std::int64_t sourcePixels, double factor) {
    // A minute, and ten seconds more per ten megapixels: some ten times what
    // the slowest decoder here needs on a slow machine.
    const double seconds = 60.0 + double(std::max<std::int64_t>(0, sourcePixels)) / 1e6;
    return std::chrono::milliseconds(std::int64_t(seconds * 1000.0 * factor));
}

WorkerPool::Worker* WorkerPool::start() {
    const std::filesystem::path program = executable();
    if (program.empty())
        return nullptr;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        return nullptr;
    FileDescriptor ours(ends[0]);
    FileDescriptor theirs(ends[1]);
    if (theirs.get() == workerSocket) // dup2 onto itself would keep close-on-exec
        theirs = FileDescriptor(::fcntl(theirs.get(), F_DUPFD_CLOEXEC, workerSocket + 1));

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, theirs.get(), workerSocket);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Signals the parent ignores or blocks are the worker's business, not inherited.
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> arguments{program.native(),
                                       "--memory-limit=" + std::to_string(m_memoryLimit),
                                       "--parent=" + std::to_string(::getpid())};
    std::vector<std::string> environment = workerEnvironment();
    pid_t pid = -1;
    const int status = posix_spawn(&pid, program.c_str(), &actions, &attributes,
                                   pointers(arguments).data(), pointers(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (status != 0)
        return nullptr;

    auto worker = std::make_unique<Worker>();
    worker->pid = pid;
    worker->socket = std::move(ours);
    worker->notifier =
        std::make_unique<QSocketNotifier>(worker->socket.get(), QSocketNotifier::Read);
    worker->notifier->setEnabled(false);
    Worker* raw = worker.get();
    connect(worker->notifier.get(), &QSocketNotifier::activated, this,
            [this, raw] { answered(raw); });
    worker->deadline = std::make_unique<QTimer>();
    worker->deadline->setSingleShot(true);
    connect(worker->deadline.get(), &QTimer::timeout, this,
            [this, raw] { end(raw, WorkerProtocol::Ending::timedOut); });
    m_workers.push_back(std::move(worker));
    return raw;
}

void WorkerPool::prestart(int count) {
    while (int(m_workers.size()) < std::min(count, m_idleLimit) && start()) {
    }
}

void WorkerPool::run(const WorkerProtocol::Request& request, std::span<const int> descriptors,
                     std::chrono::milliseconds timeLimit, Done done) {
    // An idle worker may have died since its last request: then another.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto idle = std::find_if(m_workers.begin(), m_workers.end(),
                                       [](const auto& worker) { return !worker->done; });
        Worker* worker = idle != m_workers.end() ? idle->get() : start();
        if (!worker)
            break;
        if (!WorkerProtocol::send(worker->socket.get(), &request, sizeof request, descriptors)) {
            end(worker, WorkerProtocol::Ending::crashed);
            continue;
        }
        worker->done = std::move(done);
        worker->kind = request.kind;
        worker->notifier->setEnabled(true);
        worker->deadline->start(timeLimit);
        return;
    }
    answerLater(std::move(done), WorkerProtocol::Ending::notStarted);
}

void WorkerPool::answered(Worker* worker) {
    Reply reply;
    std::vector<FileDescriptor> stray;
    if (!WorkerProtocol::receive(worker->socket.get(), &reply, sizeof reply, stray) ||
        !worker->done) {
        end(worker, WorkerProtocol::Ending::crashed);
        return;
    }
    worker->deadline->stop();
    worker->notifier->setEnabled(false);
    Done done = std::exchange(worker->done, nullptr);
    const auto idle =
        std::count_if(m_workers.begin(), m_workers.end(), [](const auto& w) { return !w->done; });
    if (idle > m_idleLimit)
        end(worker, WorkerProtocol::Ending::done);
    done(reply); // may run the next request at once, on this very worker
}

void WorkerPool::end(Worker* worker, WorkerProtocol::Ending ending) {
    const auto it = std::find_if(m_workers.begin(), m_workers.end(),
                                 [worker](const auto& w) { return w.get() == worker; });
    if (it == m_workers.end())
        return;
    std::unique_ptr<Worker> gone = std::move(*it);
    m_workers.erase(it);
    ::kill(gone->pid, SIGKILL);
    while (::waitpid(gone->pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    // Either may be the sender of the signal being handled right now.
    gone->notifier->setEnabled(false);
    gone->notifier.release()->deleteLater();
    gone->deadline->stop();
    gone->deadline.release()->deleteLater();
    if (gone->done) {
        Reply reply;
        reply.ending = ending;
        gone->done(reply);
    }
}

void WorkerPool::answerLater(Done done, WorkerProtocol::Ending ending) {
    QTimer::singleShot(0, this, [done = std::move(done), ending] {
        Reply reply;
        reply.ending = ending;
        done(reply);
    });
}

void WorkerPool::endAll() {
    while (!m_workers.empty()) {
        m_workers.back()->done = nullptr;
        end(m_workers.back().get(), WorkerProtocol::Ending::done);
    }
}

std::vector<pid_t> WorkerPool::processIds(bool convertingOnly) const {
    std::vector<pid_t> pids;
    for (const auto& worker : m_workers) {
        if (!convertingOnly ||
            (worker->done && worker->kind == WorkerProtocol::RequestKind::convert))
            pids.push_back(worker->pid);
    }
    return pids;
}
