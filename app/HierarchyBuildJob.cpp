#include "HierarchyBuildJob.h"

#include "GLCoverageMeasure.h"
#include "GLExtensions.h"
#include "GLHeadlessContext.h"
#include "LogStream.h"
#include "QuantizedNormal.h"

#include <EGL/egl.h>

#include <cstdio>
#include <exception>
#include <new>
#include <mutex>

namespace {
// The build's context, made once and kept for the process: every headless
// context shares one EGL display, which GLHeadlessContext::destroy
// terminates, and when this context loaded the entry points the loader's
// extension list points into it. Runs take turns with it through the mutex;
// between runs it is current nowhere.
struct BuildContext {
    std::mutex inUse;
    GLHeadlessContext context;
};

BuildContext& buildContext() {
    static auto* shared = new BuildContext; // never destroyed: see above
    return *shared;
}

void releaseCurrentContext() {
    eglMakeCurrent(eglGetCurrentDisplay(), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

// The OpenGL entry points are process-wide and normally loaded by the view
// widget through the toolkit. Before any view has set them up (the dialog
// opened first, or in a test) they are loaded here, on the GUI thread: the
// worker must not write them while the GUI might draw with them, and here
// no toolkit context can be current, since no view has initialised. The
// pointers are the dispatch library's and serve any context later made
// current, the view's included.
bool loadEntryPointsIfMissing(QString& error) {
    if (ext::glBindFramebufferEXT) return true;
    BuildContext& shared = buildContext();
    const std::lock_guard<std::mutex> lock(shared.inUse);
    if (!shared.context.valid() && !shared.context.create()) {
        error = QString::fromStdString("cannot create an OpenGL context: " + shared.context.lastError());
        return false;
    }
    shared.context.makeCurrent();
    bool loaded = false;
    {
        const LogCapture quiet; // the extension listing is not the user's
        setGLProcAddressLookup(nullptr);
        loaded = initExtensions();
        if (!loaded) error = QString::fromStdString("the OpenGL driver is not usable: " + lastLineOf(quiet.text()));
    }
    releaseCurrentContext();
    return loaded;
}
} // namespace

HierarchyBuildJob::HierarchyBuildJob(VLODObject3DCreator& creator, QObject* parent)
    : QObject(parent), mCreator(creator) {}

HierarchyBuildJob::~HierarchyBuildJob() {
    cancel();
    if (mWorker.joinable()) mWorker.join();
}

bool HierarchyBuildJob::start(const QString& input, const QString& output, const CreationSettings& settings,
                              QString& error) {
    if (mRunning) {
        error = tr("a hierarchy is being built already");
        return false;
    }
    if (!loadEntryPointsIfMissing(error)) return false;
    // The builder quantizes normals; without the table it would write wrong
    // ones. The program makes it at start, but the dialog must not depend on that.
    initTetrahederLookupTableRec();
    if (mWorker.joinable()) mWorker.join(); // the last run's thread has delivered and ended
    mCancelled = false;
    mStep = nullptr;
    mFraction = 0;
    mRunning = true;
    mWorker = std::thread(&HierarchyBuildJob::run, this, input.toStdString(), output.toStdString(), settings);
    return true;
}

void HierarchyBuildJob::cancel() {
    mCancelled = true;
    mCreator.mCancel = true;
}

void HierarchyBuildJob::run(std::string input, std::string output, CreationSettings settings) {
    BuildContext& shared = buildContext();
    const std::lock_guard<std::mutex> lock(shared.inUse);
    if (!shared.context.valid() && !shared.context.create()) {
        deliver(false, {}, "cannot create an OpenGL context: " + shared.context.lastError());
        return;
    }
    if (!shared.context.makeCurrent()) {
        deliver(false, {}, "cannot make the OpenGL context current");
        return;
    }
    // The creator clears its cancel flag when its pipeline starts, which may
    // be after Cancel was pressed during the import: pass it on again.
    mCreator.mProgress = [this](const char* step, float fraction) {
        mStep = step;
        mFraction = fraction;
        if (mCancelled) mCreator.mCancel = true;
    };
    GLCoverageMeasure measure;
    CreationSummary summary;
    std::string error;
    bool built = false;
    // An exception must not leave the worker: it would end the program.
    try {
        built = createHierarchyFile(input, output, settings, mCreator, measure, summary, error);
    } catch (const std::bad_alloc&) {
        error = "the mesh needs more memory than there is";
    } catch (const std::exception& e) {
        error = e.what();
    }
    measure.release();
    releaseCurrentContext();
    mCreator.mProgress = nullptr;
    deliver(built, summary, error);
}

// Hands the result to the GUI thread. A Cancel that came after the pipeline
// finished still wins: the file just written goes again.
void HierarchyBuildJob::deliver(bool ok, CreationSummary summary, std::string error) {
    QMetaObject::invokeMethod(
        this,
        [this, ok, summary, error] {
            mRunning = false;
            if (mCancelled) {
                if (ok) std::remove(summary.outputFile.c_str());
                emit finished(false, summary, QStringLiteral("cancelled"));
                return;
            }
            emit finished(ok, summary, QString::fromStdString(error));
        },
        Qt::QueuedConnection);
}
