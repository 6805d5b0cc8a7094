#pragma once

#include <exception>

// Implemented by the application object: code that catches an exception at its own boundary
// (a notification receiver, a handler dispatch) hands it here to be shown to the operator.
class ExceptionSink {
public:
    virtual ~ExceptionSink() = default;
    virtual void HandleException(const std::exception &error) = 0;
};

// Passes the exception to the running application's sink; without one, it is written to stderr.
void HandleApplicationException(const std::exception &error);

// Runs an action where no exception may pass (a Qt event handler, a notification): what it raises
// goes to the application's error box.
template <typename Action>
void RunAtBoundary(Action &&action)
{
    try {
        action();
    } catch (const std::exception &error) {
        HandleApplicationException(error);
    }
}
