// An owned file descriptor, closed when it goes.
#pragma once

#include <cstddef>

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept;
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    bool IsOpen() const { return m_fd >= 0; }
    int get() const { return m_fd; }
    // Writes all of it (retrying short writes); false on an error such as a full disk.
    bool WriteAll(const char* data, size_t size);
    // Closes now; false when the close reports an error (data may not have reached the disk).
    bool Close();

private:
    int m_fd = -1;
};
