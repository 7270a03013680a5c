#include "ui/ui_call.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

// One call waiting for the user-interface thread. The worker owns it on its
// stack and waits on it; the hand-over goes through standard mutexes only,
// so that the sanitizers see both directions of it.
struct PendingCall {
    const std::function<void()>* call = nullptr;
    std::mutex lock;
    std::condition_variable doneChanged;
    bool done = false;
};

class UiDispatcher : public QObject {
    Q_OBJECT
public:
    void Post(PendingCall* pending) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_queue.push_back(pending);
        }
        QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
    }

    // Each call may open a modal loop (a message box) in which further calls
    // are drained; every call is therefore taken out before it runs.
    Q_INVOKABLE void Drain() {
        for (;;) {
            PendingCall* pending;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                if (m_queue.empty()) return;
                pending = m_queue.front();
                m_queue.pop_front();
            }
            try {
                (*pending->call)();
            } catch (...) {
            }
            std::lock_guard<std::mutex> guard(pending->lock);
            pending->done = true;
            pending->doneChanged.notify_one();
        }
    }

private:
    std::mutex m_lock;
    std::deque<PendingCall*> m_queue;
};

UiDispatcher* Dispatcher() {
    // Lives as long as the process: workers may still hold it at shutdown.
    static UiDispatcher* const dispatcher = [] {
        auto* d = new UiDispatcher;
        if (QCoreApplication* app = QCoreApplication::instance()) d->moveToThread(app->thread());
        return d;
    }();
    return dispatcher;
}

// Made on the user-interface thread as the application starts, before any
// worker can ask for it.
void CreateDispatcher() { Dispatcher(); }

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(CreateDispatcher)

bool IsUiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}

void SendToUiThread(const std::function<void()>& call) {
    if (IsUiThread()) {
        call();
        return;
    }
    PendingCall pending;
    pending.call = &call;
    Dispatcher()->Post(&pending);
    std::unique_lock<std::mutex> guard(pending.lock);
    pending.doneChanged.wait(guard, [&] { return pending.done; });
}

#include "ui_call.moc"
