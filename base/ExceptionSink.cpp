#include "base/ExceptionSink.h"

#include <QCoreApplication>
#include <cstdio>

void HandleApplicationException(const std::exception &error)
{
    if (auto *sink = dynamic_cast<ExceptionSink *>(QCoreApplication::instance())) {
        sink->HandleException(error);
        return;
    }
    std::fprintf(stderr, "%s\n", error.what());
}
