#pragma once

#include "platform/profile/ProfileSystem.h"

#include <atomic>

// The real calls, counted; installed for the lifetime of the object.
class CountingSystem : public ProfileSystem {
public:
    CountingSystem() : previous_(ProfileSystem::install(this)) {}
    CountingSystem(const CountingSystem&) = delete;
    CountingSystem& operator=(const CountingSystem&) = delete;
    ~CountingSystem() override { ProfileSystem::install(previous_); }

    int open(const char* path, int flags, mode_t mode) override {
        ++opens;
        return ProfileSystem::open(path, flags, mode);
    }
    int rename(const char* from, const char* to) override {
        ++renames;
        return ProfileSystem::rename(from, to);
    }
    int stat(const char* path, struct stat* info) override {
        ++stats;
        return ProfileSystem::stat(path, info);
    }

    std::atomic<int> opens{0};
    std::atomic<int> renames{0};
    std::atomic<int> stats{0};

private:
    ProfileSystem* previous_;
};
