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
    struct SystemService final : KeepAwake::Service
    {
        static constexpr int callTimeoutMs = 3000;
        static constexpr guint32 portalSuspendAndIdle = 4 | 8;

        GDBusConnection* bus = nullptr;
        std::string portalRequest;
        guint32 powerManagementCookie = 0;

        ~SystemService() override
        {
            release();
        }

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

        void hold (const char* reason) override
        {
            release();
            if (! sessionBusAround())
                return;

            GError* error = nullptr;
            bus = g_bus_get_sync (G_BUS_TYPE_SESSION, nullptr, &error);
            if (bus == nullptr)
            {
                std::fprintf (stderr, "keep awake: no session bus: %s\n", error->message);
                g_error_free (error);
                return;
            }

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

        void release() override
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
            g_object_unref (bus);
            bus = nullptr;
        }
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
