// Linked into every program of a ThreadSanitizer build, so that listing the tests at
// build time and programs that tests start behave as the tests themselves do.
#include <QAbstractEventDispatcher>
#include <QDeadlineTimer>
#include <QEvent>
#include <QMetaMethod>
#include <QMetaType>
#include <QMutex>
#include <QThread>
#include <QtCore/private/qmetaobject_p.h>
#include <QtCore/private/qobject_p.h>
#include <opencv2/core/utility.hpp>
#include <sanitizer/tsan_interface.h>

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <iterator>
#include <mutex>
#include <utility>
#include <vector>

// The libraries (Qt, OpenCV, libav, GLib) are built without the sanitizer: their own
// work reaches it only through the C library calls it intercepts (allocations,
// copies, comparisons), whose order the libraries keep with atomics it cannot see.
// The suppression file leaves out, library by library, the accesses of the calls
// they make; their locks, waits and threads still count, and every access of our own
// code is checked, the copies and fills it asks of the C library included.
extern "C" const char* __tsan_default_options()
{
    return "suppressions=" VB_TSAN_SUPPRESSIONS;
}

// Bounds of this program's own code.
extern "C" char __executable_start[];
extern "C" char etext[];

namespace {

#ifndef VB_TSAN_OPENCV_THREADS
// OpenCV hands its parallel loops to oneTBB, whose scheduler synchronises through
// atomics the sanitizer cannot see: every loop body would be reported as racing with
// its caller. Run serially, each body runs on its caller's thread and our own threads
// stay fully checked. The program built with VB_TSAN_OPENCV_THREADS runs them on
// threads the sanitizer sees instead (ThreadSanitizerParallelBackend.cpp).
const bool openCvLoopsSerial = [] {
    cv::setNumThreads(1);
    return true;
}();
#endif

// OpenCV makes the operator of Mat::zeros, ones and eye on first use, behind a guard
// it checks out of the sanitizer's sight: threads that use it first would seem to race
// with its making. It is made here, before any thread starts.
const bool matrixInitialiserMade = [] {
    const cv::Mat made = cv::Mat::zeros(1, 1, CV_8U);
    return !made.empty();
}();

template <typename Function>
Function qtCore(const char* symbol)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, symbol));
}

// Only our own calls are told: Qt's libraries also lock and unlock through these
// entry points, and also from inside Qt where they cannot be seen, so telling
// theirs would give the sanitizer half of their story.
bool calledByUs(const void* returnAddress)
{
    return returnAddress >= static_cast<const void*>(__executable_start) &&
           returnAddress < static_cast<const void*>(etext);
}

// The mutexes this thread holds by locks it told. A Qt function may end by jumping to
// unlock, which then seems called by us: only the unlock of a told lock is told.
thread_local std::vector<const QMutex*> toldLocks;

void toldLocked(const QMutex* mutex)
{
    toldLocks.push_back(mutex);
}

bool toldUnlocking(const QMutex* mutex)
{
    const auto held = std::find(toldLocks.rbegin(), toldLocks.rend(), mutex);
    if (held == toldLocks.rend())
        return false;
    toldLocks.erase(std::next(held).base());
    return true;
}

// A queued call is told to the sanitizer as a hand-off to its receiver: the posting
// thread releases the receiver's key, and the receiving thread acquires it as the
// call is delivered. A thread that only emits, or only receives calls posted to
// other objects, is ordered with nobody. The key lies one byte into the object, apart
// from a QThread's own address, which tells its end.
void* receiverKey(const QObject* receiver)
{
    return const_cast<char*>(reinterpret_cast<const char*>(receiver)) + 1;
}

void releaseTo(const std::vector<void*>& keys)
{
    for (void* key : keys)
        __tsan_release(key);
}

// The keys of the receivers an emission of sender's signal (in Qt's signal index)
// posts a call to, picked from its connections as Qt's activation picks them.
std::vector<void*> queuedReceivers(QObject* sender, int signalIndex)
{
    std::vector<void*> keys;
    // Held, so that a connection removed meanwhile stays readable, as during Qt's own walk.
    const QObjectPrivate::ConnectionDataPointer connections(QObjectPrivate::get(sender)->connections.loadAcquire());
    const QObjectPrivate::SignalVector* const lists = connections ? connections->signalVector.loadAcquire() : nullptr;
    if (!lists)
        return keys;
    const bool inSenderThread = sender->thread() == QThread::currentThread();
    // The signal's own connections, then those to every signal of the sender.
    std::vector<int> walked = {-1};
    if (signalIndex < lists->count())
        walked.insert(walked.begin(), signalIndex);
    for (const int list : walked) {
        for (auto* c = lists->at(list).first.loadAcquire(); c; c = c->nextConnectionList.loadAcquire()) {
            const QObject* const receiver = c->receiver.loadAcquire();
            if (!receiver)
                continue;
            const bool sameThread = inSenderThread && receiver->thread() == QThread::currentThread();
            if (c->connectionType == Qt::QueuedConnection || c->connectionType == Qt::BlockingQueuedConnection ||
                (c->connectionType == Qt::AutoConnection && !sameThread))
                keys.push_back(receiverKey(receiver));
        }
    }
    return keys;
}

// The receivers of the emission under way on this thread, while Qt copies its
// arguments and posts its calls.
thread_local const std::vector<void*>* postingTo = nullptr;

class Emission {
public:
    Emission(QObject* sender, int signalIndex) : receivers_(queuedReceivers(sender, signalIndex)), outer_(postingTo)
    {
        releaseTo(receivers_);
        postingTo = &receivers_;
    }
    ~Emission() { postingTo = outer_; }
    Emission(const Emission&) = delete;
    Emission& operator=(const Emission&) = delete;

private:
    const std::vector<void*> receivers_;
    const std::vector<void*>* const outer_;
};

// Queued calls and slots run on the receiving thread through this event.
bool acquireQueuedCall(void** data)
{
    if (static_cast<const QEvent*>(data[1])->type() == QEvent::MetaCall)
        __tsan_acquire(receiverKey(static_cast<const QObject*>(data[0])));
    return false;
}

const bool queuedCallsWatched = QInternal::registerCallback(QInternal::EventNotifyCallback, acquireQueuedCall);

// A blocking call returns once its slot has run on the other thread, which Qt tells
// the caller through a semaphore out of sight. The slot is wrapped so that its end is
// told from that thread, keyed by the wrapper, and taken in where the slot is dropped:
// by the caller, last.
class SlotTellingItsEnd : public QtPrivate::QSlotObjectBase {
public:
    explicit SlotTellingItsEnd(QtPrivate::QSlotObjectBase* slot) : QSlotObjectBase(&impl), slot(slot) {}

private:
    static void impl(int which, QSlotObjectBase* self, QObject* receiver, void** args, bool*)
    {
        auto* const telling = static_cast<SlotTellingItsEnd*>(self);
        if (which == Call) {
            telling->slot->call(receiver, args);
            __tsan_release(telling);
        } else if (which == Destroy) {
            __tsan_acquire(telling);
            telling->slot->destroyIfLastRef();
            delete telling;
        }
    }

    QtPrivate::QSlotObjectBase* const slot;
};

// Qt copies a queued signal's arguments on the emitting thread, after the emission has
// released: a copy that writes (a std::set's nodes) would seem unordered with the slot
// that reads it and the event that frees it. Our types' copy constructors, registered
// by our code, are wrapped to release to the emission's receivers once the copy is
// made, before Qt posts it. A constructor has no context argument: each wrapper is
// bound to one slot of this table.
constexpr std::size_t wrappedTypeCapacity = 32;
std::array<std::atomic<QMetaType::Constructor>, wrappedTypeCapacity> constructorsOfOurTypes{};

template <std::size_t slot>
void* constructThenRelease(void* where, const void* copy)
{
    void* const made = constructorsOfOurTypes[slot].load(std::memory_order_acquire)(where, copy);
    if (postingTo)
        releaseTo(*postingTo);
    return made;
}

template <std::size_t... slot>
constexpr std::array<QMetaType::Constructor, sizeof...(slot)> constructorWrappers(std::index_sequence<slot...>)
{
    return {constructThenRelease<slot>...};
}

// A type registered again (each qRegisterMetaType call does) keeps its slot.
QMetaType::Constructor wrappedConstructor(QMetaType::Constructor constructor)
{
    static constexpr auto wrappers = constructorWrappers(std::make_index_sequence<wrappedTypeCapacity>());
    static std::mutex wrapping;
    const std::lock_guard<std::mutex> lock(wrapping);
    for (std::size_t slot = 0; constructor && slot < wrappedTypeCapacity; ++slot) {
        QMetaType::Constructor bound = constructorsOfOurTypes[slot].load(std::memory_order_relaxed);
        if (!bound)
            constructorsOfOurTypes[slot].store(bound = constructor, std::memory_order_release);
        if (bound == constructor)
            return wrappers[slot];
    }
    return constructor;
}

}  // namespace

// QMutex waits on futexes inside Qt, out of the sanitizer's sight, so every lock of
// ours would look like no lock at all. These stand in for Qt's own entry points and
// tell the sanitizer what our calls do.
void QMutex::lock()
{
    static const auto lockInQt = qtCore<void (*)(QMutex*)>("_ZN6QMutex4lockEv");
    const bool told = calledByUs(__builtin_return_address(0));
    if (told)
        __tsan_mutex_pre_lock(this, 0);
    lockInQt(this);
    if (told) {
        __tsan_mutex_post_lock(this, 0, 0);
        toldLocked(this);
    }
}

bool QMutex::tryLock(int timeout)
{
    static const auto tryLockInQt = qtCore<bool (*)(QMutex*, int)>("_ZN6QMutex7tryLockEi");
    const bool told = calledByUs(__builtin_return_address(0));
    if (told)
        __tsan_mutex_pre_lock(this, __tsan_mutex_try_lock);
    const bool locked = tryLockInQt(this, timeout);
    if (told) {
        __tsan_mutex_post_lock(this, __tsan_mutex_try_lock | (locked ? 0 : __tsan_mutex_try_lock_failed), 0);
        if (locked)
            toldLocked(this);
    }
    return locked;
}

void QMutex::unlock() noexcept
{
    static const auto unlockInQt = qtCore<void (*)(QMutex*)>("_ZN6QMutex6unlockEv");
    const bool told = toldUnlocking(this);
    if (told)
        __tsan_mutex_pre_unlock(this, 0);
    unlockInQt(this);
    if (told)
        __tsan_mutex_post_unlock(this, 0);
}

namespace {

// A QThread tells its end to its waiters under a mutex inside Qt, also out of sight:
// what the thread did would look unordered with what its owner reads once it has
// waited for it, and with the queued slots of its finished signal. Each thread our
// code makes tells its end from the thread itself, twice: to the receivers of finished
// as it begins (connected at construction, so before any slot of ours), and to its
// waiters as its event dispatcher goes, after the slots of finished, whose queuing
// reads the thread object. Our waits and checks that find it ended take it in.
void tellEnd(QThread* thread)
{
    static const int finished = QMetaObjectPrivate::signalIndex(QMetaMethod::fromSignal(&QThread::finished));
    QObject::connect(thread, &QThread::finished, [thread] { releaseTo(queuedReceivers(thread, finished)); });
    QObject::connect(thread, &QThread::started, [thread] {
        if (QAbstractEventDispatcher* dispatcher = thread->eventDispatcher())
            QObject::connect(dispatcher, &QObject::destroyed, [thread] { __tsan_release(thread); });
    });
}

// A constructor or destructor cannot be defined to call Qt's own: these stand in for
// QThread's under their symbols, as our code calls them.
using ThreadInQt = void (*)(QThread*);
using ConstructThreadInQt = void (*)(QThread*, QObject*);

void constructTelling(ConstructThreadInQt constructInQt, QThread* thread, QObject* parent, const void* caller)
{
    constructInQt(thread, parent);
    if (calledByUs(caller))
        tellEnd(thread);
}

// Qt's destructor waits for a thread that is still ending, out of sight; this wait is
// ours, before the object goes. (A derived destructor may end by jumping here: all
// calls are taken, and only Qt's own wait is done earlier.)
void destroyAfterEnd(ThreadInQt destroyInQt, QThread* thread)
{
    if (thread->isFinished())
        thread->wait();
    destroyInQt(thread);
}

}  // namespace

extern "C" void constructThread(QThread* thread, QObject* parent) asm("_ZN7QThreadC2EP7QObject");
extern "C" void constructWholeThread(QThread* thread, QObject* parent) asm("_ZN7QThreadC1EP7QObject");
extern "C" void destroyThread(QThread* thread) asm("_ZN7QThreadD2Ev");
extern "C" void destroyWholeThread(QThread* thread) asm("_ZN7QThreadD1Ev");

void constructThread(QThread* thread, QObject* parent)
{
    static const auto inQt = qtCore<ConstructThreadInQt>("_ZN7QThreadC2EP7QObject");
    constructTelling(inQt, thread, parent, __builtin_return_address(0));
}

void constructWholeThread(QThread* thread, QObject* parent)
{
    static const auto inQt = qtCore<ConstructThreadInQt>("_ZN7QThreadC1EP7QObject");
    constructTelling(inQt, thread, parent, __builtin_return_address(0));
}

void destroyThread(QThread* thread)
{
    static const auto inQt = qtCore<ThreadInQt>("_ZN7QThreadD2Ev");
    destroyAfterEnd(inQt, thread);
}

void destroyWholeThread(QThread* thread)
{
    static const auto inQt = qtCore<ThreadInQt>("_ZN7QThreadD1Ev");
    destroyAfterEnd(inQt, thread);
}

// QThread::create makes its thread inside Qt.
QThread* QThread::createThreadImpl(std::future<void>&& future)
{
    static const auto createInQt =
        qtCore<QThread* (*)(std::future<void>&&)>("_ZN7QThread16createThreadImplEOSt6futureIvE");
    QThread* const thread = createInQt(std::move(future));
    tellEnd(thread);
    return thread;
}

bool QThread::wait(QDeadlineTimer deadline)
{
    static const auto waitInQt = qtCore<bool (*)(QThread*, QDeadlineTimer)>("_ZN7QThread4waitE14QDeadlineTimer");
    const bool ended = waitInQt(this, deadline);
    if (ended)
        __tsan_acquire(this);
    return ended;
}

bool QThread::wait(unsigned long time)
{
    static const auto waitInQt = qtCore<bool (*)(QThread*, unsigned long)>("_ZN7QThread4waitEm");
    const bool ended = waitInQt(this, time);
    if (ended)
        __tsan_acquire(this);
    return ended;
}

bool QThread::isFinished() const
{
    static const auto isFinishedInQt = qtCore<bool (*)(const QThread*)>("_ZNK7QThread10isFinishedEv");
    const bool ended = isFinishedInQt(this);
    if (ended)
        __tsan_acquire(const_cast<QThread*>(this));
    return ended;
}

bool QThread::isRunning() const
{
    static const auto isRunningInQt = qtCore<bool (*)(const QThread*)>("_ZNK7QThread9isRunningEv");
    const bool running = isRunningInQt(this);
    if (!running)
        __tsan_acquire(const_cast<QThread*>(this));
    return running;
}

// A signal emitted from another thread reaches a queued slot with its arguments (a
// cv::Mat, a std::set) copied inside Qt, which hands them over under a futex mutex out
// of the sanitizer's sight: our emissions release to the receivers Qt posts to, before
// it copies and posts.
void QMetaObject::activate(QObject* sender, const QMetaObject* meta, int localSignalIndex, void** argv)
{
    static const auto activateInQt = qtCore<void (*)(QObject*, const QMetaObject*, int, void**)>(
        "_ZN11QMetaObject8activateEP7QObjectPKS_iPPv");
    if (!calledByUs(__builtin_return_address(0)))
        return activateInQt(sender, meta, localSignalIndex, argv);
    const Emission emission(sender, QMetaObjectPrivate::signalOffset(meta) + localSignalIndex);
    activateInQt(sender, meta, localSignalIndex, argv);
}

// A functor queued to an object is built by our code before the call.
bool QMetaObject::invokeMethodImpl(QObject* object, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type,
                                   void* ret)
{
    static const auto invokeInQt = qtCore<bool (*)(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*)>(
        "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    if (!calledByUs(__builtin_return_address(0)))
        return invokeInQt(object, slot, type, ret);
    if (type == Qt::BlockingQueuedConnection)
        slot = new SlotTellingItsEnd(slot);
    // Qt posts the call unless it runs it here and now.
    if (type != Qt::DirectConnection && (type != Qt::AutoConnection || object->thread() != QThread::currentThread()))
        __tsan_release(receiverKey(object));
    return invokeInQt(object, slot, type, ret);
}

int QMetaType::registerNormalizedType(const ::QByteArray& normalizedTypeName, Destructor destructor,
                                      Constructor constructor, int size, TypeFlags flags, const QMetaObject* metaObject)
{
    static const auto registerInQt =
        qtCore<int (*)(const ::QByteArray&, Destructor, Constructor, int, TypeFlags, const QMetaObject*)>(
            "_ZN9QMetaType22registerNormalizedTypeERK10QByteArrayPFvPvEPFS3_S3_PKvEi6QFlagsINS_8TypeFlagEEPK11QMetaObject");
    if (calledByUs(__builtin_return_address(0)))
        constructor = wrappedConstructor(constructor);
    return registerInQt(normalizedTypeName, destructor, constructor, size, flags, metaObject);
}
