// Turns every undeclared assertion into a test failure.  Linked into every
// test program as an object, so the observer is installed before main runs.

#include "support/expected_assertions.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include <gtest/gtest.h>

#include "cseries/log.h"

static struct expected_assertions_globals
{
    std::mutex lock; // the timer thread asserts too
    expected_assertions *innermost = nullptr;
    std::atomic<int32_t> unexpected{0};
} expected_assertions_globals;

void note_assertion_for_tests(const char *file, int32_t line, const char *message)
{
    const char *name = strrchr(file ? file : "", '/');
    name = name ? name + 1 : (file ? file : "");
    {
        std::lock_guard<std::mutex> guard(expected_assertions_globals.lock);
        expected_assertions *scope = expected_assertions_globals.innermost;
        if (scope && (scope->containing.empty() || strstr(message, scope->containing.c_str())))
        {
            scope->messages.push_back(std::string(name) + ":" + std::to_string(line) + ": " + message);
            return;
        }
    }
    expected_assertions_globals.unexpected.fetch_add(1);
    ADD_FAILURE_AT(file ? file : "", line) << "an assertion this test did not declare: " << message;
}

expected_assertions::expected_assertions(int32_t count, const char *text) :
    expected(count), containing(text ? text : ""), outer(nullptr)
{
    std::lock_guard<std::mutex> guard(expected_assertions_globals.lock);
    outer = expected_assertions_globals.innermost;
    expected_assertions_globals.innermost = this;
}

expected_assertions::~expected_assertions(void)
{
    std::vector<std::string> seen_messages;
    {
        std::lock_guard<std::mutex> guard(expected_assertions_globals.lock);
        expected_assertions_globals.innermost = outer;
        seen_messages.swap(messages);
    }
    if ((int32_t)seen_messages.size() != expected)
    {
        std::string list;
        for (const std::string &message : seen_messages) list += "\n  " + message;
        ADD_FAILURE() << "expected " << expected << " assertion(s)"
                      << (containing.empty() ? "" : " containing \"" + containing + "\"") << ", saw "
                      << seen_messages.size() << list;
    }
}

int32_t expected_assertions::seen(void) const
{
    std::lock_guard<std::mutex> guard(expected_assertions_globals.lock);
    return (int32_t)messages.size();
}

int32_t unexpected_assertion_count(void)
{
    return expected_assertions_globals.unexpected.load();
}

namespace
{
// Installed twice: by a static constructor, so assertions from other static
// constructors count too, and again when the tests start, in case a module's
// globals were initialised after that constructor ran and emptied the slot.
struct assertion_observer_environment : public testing::Environment
{
    void SetUp(void) override { set_assertion_observer(note_assertion_for_tests); }
};

struct install_assertion_observer
{
    install_assertion_observer(void)
    {
        set_assertion_observer(note_assertion_for_tests);
        testing::AddGlobalTestEnvironment(new assertion_observer_environment);
    }
} install_assertion_observer_at_start;
} // namespace
