#include "platform/child_process.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/win32/child_faults_win32.h"
#include "platform/win32/interrupt_source_win32.h"
#include "platform/poll_deadline.h"
#include "platform/system_error.h"
#include "platform/win32/wide_text_win32.h"

namespace platform {

namespace {

// What a child's reader thread has taken from one of its pipes. An anonymous
// pipe cannot be waited on, so a thread per pipe reads it and keeps what came.
struct PipeReader {
    HANDLE pipe = nullptr;
    std::thread thread;
    std::mutex lock;
    std::string pending;
    bool ended = false;   // the writing ends are all closed
    bool closed = false;  // ...and the parent has read that end

    bool HasData() {
        std::lock_guard<std::mutex> hold(lock);
        return !closed && (!pending.empty() || ended);
    }
};

// Signalled by every reader that has something new; WaitForChildren clears
// it before it looks at the readers, so that nothing that comes after the
// look is missed. One for all children: a fleet may outgrow the 64 objects
// of one WaitForMultipleObjects.
Event& ChildrenChanged() {
    static Event* changed = new Event(ResetMode::Manual, false);
    return *changed;
}

void ReadUntilEnd(PipeReader* reader) {
    char buffer[4096];
    for (;;) {
        DWORD n = 0;
        const bool ok = ::ReadFile(reader->pipe, buffer, sizeof buffer, &n, nullptr) != 0;
        {
            std::lock_guard<std::mutex> hold(reader->lock);
            if (ok && n > 0)
                reader->pending.append(buffer, n);
            else if (!ok)
                reader->ended = true;  // ERROR_BROKEN_PIPE, or the pipe failed
        }
        if (ok && n == 0) continue;
        ChildrenChanged().Set();
        if (!ok) return;
    }
}

void StartReader(PipeReader* reader, HANDLE pipe) {
    reader->pipe = pipe;
    reader->thread = std::thread(ReadUntilEnd, reader);
}

void StopReader(PipeReader* reader) {
    if (reader->thread.joinable()) reader->thread.join();
    if (reader->pipe != nullptr) ::CloseHandle(reader->pipe);
    reader->pipe = nullptr;
}

// Takes what the reader has; false once the pipe has ended and all was read.
bool TakeFrom(PipeReader* reader, std::string* into) {
    std::lock_guard<std::mutex> hold(reader->lock);
    if (reader->closed || reader->thread.get_id() == std::thread::id()) return false;
    if (!reader->pending.empty()) {
        into->append(reader->pending);
        reader->pending.clear();
        return true;
    }
    if (!reader->ended) return true;
    reader->closed = true;
    return false;
}

// One argument as the C runtime's parser gives it back: quoted when it holds
// a blank or a quote, with the backslashes before a quote doubled.
void AppendQuoted(std::wstring* line, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line->append(arg);
        return;
    }
    line->push_back(L'"');
    for (std::size_t i = 0;; ++i) {
        std::size_t backslashes = 0;
        while (i < arg.size() && arg[i] == L'\\') {
            ++backslashes;
            ++i;
        }
        if (i == arg.size()) {
            line->append(backslashes * 2, L'\\');
            break;
        }
        if (arg[i] == L'"') {
            line->append(backslashes * 2 + 1, L'\\');
        } else {
            line->append(backslashes, L'\\');
        }
        line->push_back(arg[i]);
    }
    line->push_back(L'"');
}

std::wstring CommandLine(const std::vector<std::string>& argv) {
    std::wstring line;
    for (const auto& arg : argv) {
        if (!line.empty()) line.push_back(L' ');
        AppendQuoted(&line, Widen(arg));
    }
    return line;
}

// This process's environment with `changes` applied, as a block of
// NAME=value strings; empty when nothing changes (the child then inherits).
std::wstring EnvironmentBlock(const std::vector<std::string>& changes) {
    if (changes.empty()) return {};
    std::vector<std::wstring> wide;
    for (const auto& c : changes) wide.push_back(Widen(c));
    std::wstring block;
    if (wchar_t* all = ::GetEnvironmentStringsW()) {
        for (const wchar_t* e = all; *e != L'\0'; e += std::wcslen(e) + 1) {
            const std::wstring entry(e);
            // Names are compared as Windows does, without regard to case; the
            // hidden "=C:" entries have an empty name and are kept.
            const std::size_t equals = entry.find(L'=', 1);
            const std::wstring name = entry.substr(0, equals + 1);
            bool replaced = false;
            for (const auto& c : wide)
                replaced = replaced || (c.size() >= name.size() &&
                                        ::CompareStringOrdinal(c.c_str(), static_cast<int>(name.size()), name.c_str(),
                                                               static_cast<int>(name.size()), TRUE) == CSTR_EQUAL);
            if (!replaced) block.append(entry).push_back(L'\0');
        }
        ::FreeEnvironmentStringsW(all);
    }
    for (const auto& c : wide) block.append(c).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

HANDLE Inheritable(HANDLE h) {
    HANDLE copy = nullptr;
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

HANDLE OpenNul(DWORD access) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE h = ::CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

void CloseIf(HANDLE& h) {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    h = nullptr;
}

// A pipe whose writing end only the child will hold: created not
// inheritable, then that end alone is made inheritable for CreateProcess.
bool OpenPipe(HANDLE* readEnd, HANDLE* writeEnd, std::string* error) {
    if (!::CreatePipe(readEnd, writeEnd, nullptr, 0)) {
        *error = StepErrorText("CreatePipe", LastError());
        return false;
    }
    ::SetHandleInformation(*writeEnd, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    return true;
}

std::atomic<int> g_breakEventFailure{0};

// True, with the injected code as the last error, once after FailNextBreakEvent.
bool InjectedBreakEventFailure() {
    const int code = g_breakEventFailure.exchange(0);
    if (code == 0) return false;
    SetLastError(code);
    return true;
}

// Children are started one at a time: while one child's handles are
// inheritable, no other child may be created and take them along.
std::mutex& StartLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

void FailNextBreakEvent(int code) { g_breakEventFailure.store(code); }

struct ChildProcess::State {
    HANDLE process = nullptr;
    DWORD id = 0;
    HANDLE breaks = nullptr;
    PipeReader out;
    PipeReader err;
};

ChildProcess::ChildProcess() : m_state(std::make_unique<State>()) {}

ChildProcess::~ChildProcess() {
    if (m_state->process != nullptr) {
        Kill();
        Wait();
    }
    StopReader(&m_state->out);
    StopReader(&m_state->err);
}

bool ChildProcess::Start(const std::vector<std::string>& argv, std::string* error, const ChildOptions& options) {
    if (m_state->process != nullptr || argv.empty()) {
        *error = "no program to start";
        return false;
    }
    std::lock_guard<std::mutex> starting(StartLock());
    HANDLE input = OpenNul(GENERIC_READ);
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    auto closeAll = [&] {
        CloseIf(input);
        CloseIf(outRead);
        CloseIf(outWrite);
        CloseIf(errRead);
        CloseIf(errWrite);
    };
    if (input == nullptr) {
        *error = StepErrorText("NUL", LastError());
        return false;
    }
    if (!options.outputFile.empty()) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        outWrite = ::CreateFileW(Widen(options.outputFile).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (outWrite == INVALID_HANDLE_VALUE) {
            outWrite = nullptr;
            *error = StepErrorText(options.outputFile, LastError());
            closeAll();
            return false;
        }
        errWrite = Inheritable(outWrite);
    } else {
        if (!OpenPipe(&outRead, &outWrite, error) || (options.errorsOnPipe && !OpenPipe(&errRead, &errWrite, error))) {
            closeAll();
            return false;
        }
        // Ours, or the null device when this process has no standard error.
        if (!options.errorsOnPipe) errWrite = Inheritable(::GetStdHandle(STD_ERROR_HANDLE));
        if (errWrite == nullptr) errWrite = OpenNul(GENERIC_WRITE);
    }

    // Only these three handles go to the child, whatever else is inheritable.
    HANDLE inherited[] = {input, outWrite, errWrite};
    SIZE_T attributeSize = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeSize);
    std::vector<char> attributeBuffer(attributeSize);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeBuffer.data());
    const bool listed = ::InitializeProcThreadAttributeList(attributes, 1, 0, &attributeSize) &&
                        ::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                                    sizeof inherited, nullptr, nullptr);

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = outWrite;
    startup.StartupInfo.hStdError = errWrite;
    if (listed) startup.lpAttributeList = attributes;

    std::wstring application = Widen(argv[0]);
    std::wstring line = CommandLine(argv);
    std::wstring environment = EnvironmentBlock(options.environment);
    // Suspended until its Break event exists; in a process group of its own,
    // so that a Ctrl-C at the console reaches only this process.
    DWORD flags = CREATE_SUSPENDED | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT;
    if (listed) flags |= EXTENDED_STARTUPINFO_PRESENT;
    PROCESS_INFORMATION info{};
    const bool created = ::CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE, flags,
                                          environment.empty() ? nullptr : environment.data(), nullptr,
                                          &startup.StartupInfo, &info) != 0;
    if (!created) *error = StepErrorText(argv[0], LastError());
    if (listed) ::DeleteProcThreadAttributeList(attributes);
    CloseIf(input);
    CloseIf(outWrite);
    CloseIf(errWrite);
    if (!created) {
        closeAll();
        return false;
    }
    // Without its Break event the child would never hear a Ctrl-C passed on:
    // it ends before it has run at all.
    m_state->breaks = InjectedBreakEventFailure()
                          ? nullptr
                          : ::CreateEventW(nullptr, FALSE, FALSE, BreakEventName(info.dwProcessId).c_str());
    if (m_state->breaks == nullptr) {
        *error = StepErrorText("CreateEvent", LastError());
        ::TerminateProcess(info.hProcess, 1);
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
        closeAll();
        return false;
    }
    ::ResumeThread(info.hThread);
    ::CloseHandle(info.hThread);
    m_state->process = info.hProcess;
    m_state->id = info.dwProcessId;
    if (outRead != nullptr) StartReader(&m_state->out, outRead);
    if (errRead != nullptr) StartReader(&m_state->err, errRead);
    return true;
}

int ChildProcess::Id() const { return m_state->process != nullptr ? static_cast<int>(m_state->id) : -1; }

bool ChildProcess::HasOutput() const {
    std::lock_guard<std::mutex> hold(m_state->out.lock);
    return m_state->out.thread.get_id() != std::thread::id() && !m_state->out.closed;
}

bool ChildProcess::HasErrors() const {
    std::lock_guard<std::mutex> hold(m_state->err.lock);
    return m_state->err.thread.get_id() != std::thread::id() && !m_state->err.closed;
}

bool ChildProcess::ReadOutput(std::string* into) { return TakeFrom(&m_state->out, into); }
bool ChildProcess::ReadErrors(std::string* into) { return TakeFrom(&m_state->err, into); }

void ChildProcess::Interrupt() {
    if (m_state->breaks != nullptr) ::SetEvent(m_state->breaks);
}

void ChildProcess::Terminate() { Interrupt(); }

void ChildProcess::Kill() {
    if (m_state->process != nullptr) ::TerminateProcess(m_state->process, 1);
}

namespace {
ChildEnd Reap(ChildProcess::State& state) {
    ChildEnd end;
    DWORD code = 0;
    if (::GetExitCodeProcess(state.process, &code)) {
        end.exited = true;
        end.code = static_cast<int>(code);
    }
    CloseIf(state.process);
    CloseIf(state.breaks);
    return end;
}
}  // namespace

ChildEnd ChildProcess::Wait() {
    if (m_state->process == nullptr) return {};
    ::WaitForSingleObject(m_state->process, INFINITE);
    return Reap(*m_state);
}

std::optional<ChildEnd> ChildProcess::TryWait() {
    if (m_state->process == nullptr || ::WaitForSingleObject(m_state->process, 0) != WAIT_OBJECT_0)
        return std::nullopt;
    return Reap(*m_state);
}

bool WaitForChildren(std::span<ChildProcess* const> children, InterruptSignals* interrupts,
                     std::int64_t timeoutMs, std::vector<std::size_t>* ready, bool* interrupted) {
    ready->clear();
    *interrupted = false;
    Event* pending = interrupts != nullptr ? interrupts->Pending().pending : nullptr;
    if (interrupts != nullptr && pending == nullptr) return false;
    std::vector<Event*> events = {&ChildrenChanged()};
    if (pending != nullptr) events.push_back(pending);
    const Deadline deadline(timeoutMs);
    for (;;) {
        ChildrenChanged().Reset();
        for (std::size_t i = 0; i < children.size(); ++i) {
            ChildProcess::State& state = *children[i]->m_state;
            if (state.out.HasData() || state.err.HasData()) ready->push_back(i);
        }
        *interrupted = pending != nullptr && pending->IsSignalled();
        if (!ready->empty() || *interrupted || deadline.Expired()) return true;
        if (WaitForAny(events, deadline.RemainingPollMs()) == kWaitFailed) return false;
    }
}

bool FollowParent(int parentId) {
    const HANDLE parent = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                        static_cast<DWORD>(parentId));
    if (parent == nullptr) return false;
    // A process id is used again once its process is gone: a parent that
    // started after this process is not the one that started it.
    FILETIME parentStart{}, ownStart{}, unused1{}, unused2{}, unused3{};
    const bool gone = ::WaitForSingleObject(parent, 0) == WAIT_OBJECT_0 ||
                      (::GetProcessTimes(parent, &parentStart, &unused1, &unused2, &unused3) &&
                       ::GetProcessTimes(::GetCurrentProcess(), &ownStart, &unused1, &unused2, &unused3) &&
                       ::CompareFileTime(&parentStart, &ownStart) > 0);
    if (gone) {
        ::CloseHandle(parent);
        return false;
    }
    std::thread([parent] {
        ::WaitForSingleObject(parent, INFINITE);
        ::CloseHandle(parent);
        RaiseInterruptRequest();
    }).detach();
    return true;
}

int ProcessId() { return static_cast<int>(::GetCurrentProcessId()); }

}  // namespace platform
