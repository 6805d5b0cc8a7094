#pragma once

// Counts, while a watch lives, the calls of close() anywhere in the process that fail because
// the descriptor was not open: the sign of a descriptor closed twice, which in a program with
// threads closes whatever file another thread opened in between.
class CloseWatch {
public:
    CloseWatch();
    ~CloseWatch();
    CloseWatch(const CloseWatch &) = delete;
    CloseWatch &operator=(const CloseWatch &) = delete;

    int ClosesOfClosedDescriptors() const;
};
