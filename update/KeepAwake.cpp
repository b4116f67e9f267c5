#include "update/KeepAwake.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#if defined(_WIN32)
 #include <windows.h>
#elif defined(__linux__)
 #include <gio/gio.h>
 #include <sys/stat.h>

 #include <chrono>
 #include <condition_variable>
 #include <deque>
 #include <memory>
 #include <mutex>
 #include <thread>
 #include <utility>
#endif

namespace zelvor
{
namespace
{
#if defined(_WIN32)
    // The execution state belongs to the thread that sets it, which is the message thread for
    // both the hold and its release.
    struct SystemService final : KeepAwake::Service
    {
        void hold (const char*) override
        {
            SetThreadExecutionState (ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
        }

        void release() override
        {
            SetThreadExecutionState (ES_CONTINUOUS);
        }
    };
#elif defined(__linux__)
    // The desktop's inhibit service on the session bus: its portal (GNOME, KDE and most
    // others), else the older power-management interface (Xfce and others). A hold lives with
    // the program's connection to the bus, so a program that dies takes its hold with it.
    //
    // The calls to the bus block (connecting has no time limit, each call up to 3 s), so they
    // run on a thread of their own, in the order they were asked for, and the window never
    // waits for a slow desktop. The connection is the program's own: GLib's shared one raises
    // SIGTERM when the bus drops it, which would quit the program in the middle of a write.
    class BusCalls
    {
    public:
        // Asks for a hold with the reason, or (nullptr) for its release.
        void ask (const char* reason)
        {
            {
                const std::lock_guard<std::mutex> lock (mutex);
                requests.emplace_back (reason != nullptr, reason != nullptr ? reason : "");
            }
            changed.notify_all();
        }

        // Runs the requests until told to stop with none left.
        void run()
        {
            std::unique_lock<std::mutex> lock (mutex);
            for (;;)
            {
                changed.wait (lock, [this] { return stopping || ! requests.empty(); });
                if (requests.empty())
                    break;
                const auto request = requests.front();
                requests.pop_front();
                lock.unlock();
                request.first ? hold (request.second.c_str()) : release();
                lock.lock();
                changed.notify_all();
            }
            lock.unlock();
            release();
            const std::lock_guard<std::mutex> guard (mutex);
            ended = true;
            changed.notify_all();
        }

        // Lets the last requests (a release as the program ends) reach the bus, for a moment
        // at most: a bus that does not answer then must not keep the program from ending.
        void stop (std::chrono::milliseconds patience)
        {
            std::unique_lock<std::mutex> lock (mutex);
            stopping = true;
            changed.notify_all();
            changed.wait_for (lock, patience, [this] { return ended; });
        }

    private:
        static constexpr int callTimeoutMs = 3000;
        static constexpr guint32 portalSuspendAndIdle = 4 | 8;

        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::pair<bool, std::string>> requests; // (hold, reason) or (release, "")
        bool stopping = false;
        bool ended = false;

        // Touched on the bus thread only.
        GDBusConnection* bus = nullptr;
        std::string portalRequest;
        guint32 powerManagementCookie = 0;

        // Only a bus that is already there: GLib would otherwise start one of its own.
        static bool sessionBusAround()
        {
            if (const char* address = std::getenv ("DBUS_SESSION_BUS_ADDRESS"); address != nullptr && *address != 0)
                return true;
            const char* runtime = std::getenv ("XDG_RUNTIME_DIR");
            struct stat socketStat;
            return runtime != nullptr && *runtime != 0 &&
                   stat ((std::string (runtime) + "/bus").c_str(), &socketStat) == 0 && S_ISSOCK (socketStat.st_mode);
        }

        static GDBusConnection* connect()
        {
            GError* error = nullptr;
            gchar* address = g_dbus_address_get_for_bus_sync (G_BUS_TYPE_SESSION, nullptr, &error);
            GDBusConnection* connection = nullptr;
            if (address != nullptr)
                connection = g_dbus_connection_new_for_address_sync (
                    address,
                    static_cast<GDBusConnectionFlags> (G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                       G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                    nullptr,
                    nullptr,
                    &error);
            g_free (address);
            if (connection == nullptr)
            {
                std::fprintf (stderr, "keep awake: no session bus: %s\n", error->message);
                g_error_free (error);
                return nullptr;
            }
            g_dbus_connection_set_exit_on_close (connection, FALSE);
            return connection;
        }

        GVariant* call (const char* name,
                        const char* path,
                        const char* interface,
                        const char* method,
                        GVariant* arguments,
                        const char* replyType)
        {
            GError* error = nullptr;
            auto* reply = g_dbus_connection_call_sync (bus,
                                                       name,
                                                       path,
                                                       interface,
                                                       method,
                                                       arguments,
                                                       replyType == nullptr ? nullptr : G_VARIANT_TYPE (replyType),
                                                       G_DBUS_CALL_FLAGS_NONE,
                                                       callTimeoutMs,
                                                       nullptr,
                                                       &error);
            if (reply == nullptr)
            {
                std::fprintf (stderr, "keep awake: %s.%s: %s\n", interface, method, error->message);
                g_error_free (error);
            }
            return reply;
        }

        void hold (const char* reason)
        {
            release();
            if (! sessionBusAround() || (bus = connect()) == nullptr)
                return;

            GVariantBuilder options;
            g_variant_builder_init (&options, G_VARIANT_TYPE_VARDICT);
            g_variant_builder_add (&options, "{sv}", "reason", g_variant_new_string (reason));
            if (auto* reply = call ("org.freedesktop.portal.Desktop",
                                    "/org/freedesktop/portal/desktop",
                                    "org.freedesktop.portal.Inhibit",
                                    "Inhibit",
                                    g_variant_new ("(sua{sv})", "", portalSuspendAndIdle, &options),
                                    "(o)"))
            {
                const gchar* request = nullptr;
                g_variant_get (reply, "(&o)", &request);
                portalRequest = request;
                g_variant_unref (reply);
                return;
            }

            if (auto* reply = call ("org.freedesktop.PowerManagement",
                                    "/org/freedesktop/PowerManagement/Inhibit",
                                    "org.freedesktop.PowerManagement.Inhibit",
                                    "Inhibit",
                                    g_variant_new ("(ss)", "Zelvor Updater", reason),
                                    "(u)"))
            {
                g_variant_get (reply, "(u)", &powerManagementCookie);
                g_variant_unref (reply);
            }
        }

        void release()
        {
            if (bus == nullptr)
                return;
            GVariant* reply = nullptr;
            if (! portalRequest.empty())
                reply = call ("org.freedesktop.portal.Desktop",
                              portalRequest.c_str(),
                              "org.freedesktop.portal.Request",
                              "Close",
                              nullptr,
                              nullptr);
            else if (powerManagementCookie != 0)
                reply = call ("org.freedesktop.PowerManagement",
                              "/org/freedesktop/PowerManagement/Inhibit",
                              "org.freedesktop.PowerManagement.Inhibit",
                              "UnInhibit",
                              g_variant_new ("(u)", powerManagementCookie),
                              nullptr);
            if (reply != nullptr)
                g_variant_unref (reply);
            portalRequest.clear();
            powerManagementCookie = 0;
            // Closing the connection ends whatever hold the desktop still keeps for it.
            g_dbus_connection_close_sync (bus, nullptr, nullptr);
            g_object_unref (bus);
            bus = nullptr;
        }
    };

    struct SystemService final : KeepAwake::Service
    {
        // The calls outlive this object when the bus keeps the thread past the end's patience.
        std::shared_ptr<BusCalls> calls = std::make_shared<BusCalls>();

        SystemService()
        {
            std::thread ([calls = calls] { calls->run(); }).detach();
        }

        ~SystemService() override
        {
            calls->stop (std::chrono::milliseconds (endPatienceMs));
        }

        void hold (const char* reason) override
        {
            calls->ask (reason);
        }

        void release() override
        {
            calls->ask (nullptr);
        }

        static constexpr int endPatienceMs = 2000;
    };
#else
    struct SystemService final : KeepAwake::Service
    {
        void hold (const char*) override
        {
        }
        void release() override
        {
        }
    };
#endif

    std::atomic<KeepAwake::Service*> installed{nullptr};

    KeepAwake::Service& current()
    {
        static SystemService system;
        auto* service = installed.load();
        return service != nullptr ? *service : system;
    }
} // namespace

void KeepAwake::install (Service* service)
{
    installed.store (service);
}

KeepAwake::KeepAwake (const char* reason) : service (current())
{
    service.hold (reason);
}

KeepAwake::~KeepAwake()
{
    service.release();
}
} // namespace zelvor
