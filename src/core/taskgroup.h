#pragma once

#include <QMutex>
#include <QWaitCondition>

#include <functional>
#include <vector>

// A batch of independent tasks that several threads work on together: the
// thread that made it and any helper it was offered to. Each task runs
// exactly once, on whichever thread takes it first. Thread-safe.
class TTaskGroup
{
  public:
    explicit TTaskGroup(std::vector<std::function<void()>> tasks);
    TTaskGroup(const TTaskGroup &) = delete;
    TTaskGroup &operator=(const TTaskGroup &) = delete;

    // Runs tasks nobody has taken yet, one after another, until none is
    // left. A task that throws counts as ended. Returns at once when every
    // task is taken.
    void Help();
    // Whether a task is still waiting to be taken.
    bool HasWork() const;
    // Helps, then waits until every task has ended, those taken by other
    // threads included. The maker calls it before the tasks' data goes.
    void Finish();

  private:
    mutable QMutex FMutex;
    QWaitCondition FEnded;
    std::vector<std::function<void()>> FTasks;
    size_t FNext = 0;
    size_t FDone = 0;
};
