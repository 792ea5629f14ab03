#include "taskgroup.h"

TTaskGroup::TTaskGroup(std::vector<std::function<void()>> tasks) : FTasks(std::move(tasks))
{
}

void TTaskGroup::Help()
{
    for (;;) {
        size_t index = 0;
        {
            QMutexLocker lock(&FMutex);
            if (FNext >= FTasks.size())
                return;
            index = FNext++;
        }
        try {
            FTasks[index]();
        } catch (...) {
            // The task's own result tells what it got done.
        }
        QMutexLocker lock(&FMutex);
        if (++FDone == FTasks.size())
            FEnded.wakeAll();
    }
}

bool TTaskGroup::HasWork() const
{
    QMutexLocker lock(&FMutex);
    return FNext < FTasks.size();
}

void TTaskGroup::Finish()
{
    Help();
    QMutexLocker lock(&FMutex);
    while (FDone < FTasks.size())
        FEnded.wait(&FMutex);
}
