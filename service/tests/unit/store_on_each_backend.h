// The fixture of the store's tests, which run on each backend: a fresh
// database with its schema made, or the test skipped, saying why, where the
// backend cannot be had (PostgreSQL without DOORLINKD_TEST_POSTGRES).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "store/store.h"
#include "unit/test_databases.h"

namespace doorlinkd::test {

class StoreOnEachBackend : public ::testing::TestWithParam<std::string> {
protected:
    // The site main is made in zone.
    explicit StoreOnEachBackend(std::string zone = "UTC") : zone_(std::move(zone)) {}

    // A fixture's own SetUp calls this first and goes on unless
    // IsSkipped() or HasFatalFailure().
    void SetUp() override {
        const std::string reason = unavailable_reason(GetParam());
        if (!reason.empty()) GTEST_SKIP() << reason;
        database_ = std::make_unique<TestDatabase>(GetParam());
        store_ = Store::open(database_->location());
        ASSERT_EQ(store_->initialise(zone_), kSchemaVersion);
    }

    std::unique_ptr<TestDatabase> database_;
    std::unique_ptr<Store> store_;

private:
    std::string zone_;
};

}  // namespace doorlinkd::test
