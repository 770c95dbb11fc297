#pragma once
// Runs createHierarchyFile on a worker thread so that the window keeps
// painting: the worker makes the build's OpenGL context current, runs the
// pipeline with a coverage measure drawn in that context and reports the
// result back on the GUI thread through finished(). Progress is sampled by
// the GUI thread from what the worker last reported, so a pipeline that
// reports often cannot flood the event loop.

#include "HierarchyCreation.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <thread>

class HierarchyBuildJob : public QObject {
    Q_OBJECT
  public:
    // creator is the caller's; it must outlive the job and is untouched by
    // the caller while a run is going on.
    explicit HierarchyBuildJob(VLODObject3DCreator& creator, QObject* parent = nullptr);
    ~HierarchyBuildJob() override; // cancels a running build and waits for it

    // Starts building input into output (empty: a temporary file). False,
    // with the reason in error, when a run is going on or no OpenGL context
    // can be had for the surfel step.
    bool start(const QString& input, const QString& output, const CreationSettings& settings, QString& error);
    bool isRunning() const { return mRunning; }
    // Whether cancel() was called since the last start().
    bool wasCancelled() const { return mCancelled; }

    // The step last reported (one of the creator's step names, null before
    // the first) and how far it is, 0 to 1. Read on the GUI thread.
    const char* currentStep() const { return mStep; }
    float currentFraction() const { return mFraction; }

  public slots:
    // Stops the build at its next check; a cancelled run writes nothing and
    // leaves no output file, even when the pipeline had already finished.
    void cancel();

  signals:
    // On the GUI thread. ok false with the reason in error, or after
    // cancel().
    void finished(bool ok, const CreationSummary& summary, const QString& error);

  private:
    void run(std::string input, std::string output, CreationSettings settings);
    void deliver(bool ok, CreationSummary summary, std::string error);

    VLODObject3DCreator& mCreator;
    std::thread mWorker;
    bool mRunning = false; // GUI thread only
    std::atomic<bool> mCancelled{false};
    std::atomic<const char*> mStep{nullptr};
    std::atomic<float> mFraction{0};
};
