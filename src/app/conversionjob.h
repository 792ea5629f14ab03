#pragma once

#include "conversion.h"

#include <QObject>
#include <QPointer>

class TFileListModel;

// What the conversion worker needs from the window. Every method is called on
// the window thread: the worker hands each step over by a blocking call and
// waits until it has run.
class IConversionHost
{
public:
    virtual ~IConversionHost() = default;
    virtual QObject *HostObject() = 0;              // the object whose thread runs the steps
    virtual ConversionOptions CurrentOptions() = 0; // the options in force for the next file
    virtual void ShowProgress(int position) = 0;
    virtual void ShowConverting(int row) = 0;
    virtual void ShowResult(int row, bool success) = 0;
    virtual void FinishConversion() = 0;
};

// One job: converts the rows of the list, one after another, on a background
// thread of its own that ends (and frees itself) after FinishConversion.
//
// The worker reads the row count once, then for each row: ShowProgress(i);
// skips the row unless its status is Translate("준비"); ShowConverting(i);
// runs the pipeline chosen by the row's type ("PDF", "AI", else raster) with
// the options of that moment; ShowResult(i, result). A row without a type, or
// whose pipeline throws, fails without stopping the job.
//
// The list must keep its rows (no add, remove or move) until
// FinishConversion has run; the window guarantees it by its busy state.
void StartConversionWorker(TFileListModel *list, IConversionHost *host);
