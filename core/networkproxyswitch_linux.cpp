#include "core/networkproxyswitch.h"

// GLib's headers name struct members "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>
#pragma pop_macro("signals")

// GNOME keeps the desktop's proxy choice in org.gnome.system.proxy "mode": "none", "manual"
// or "auto". Without that schema there is no system proxy to switch.
namespace {

const char Schema[] = "org.gnome.system.proxy";
const char Key[] = "mode";

// GSettings of the proxy schema, on a backend of its own, or null when the schema is missing.
class ProxySettings
{
public:
    ProxySettings()
    {
        GSettingsSchemaSource *source = g_settings_schema_source_get_default(); // null without any schema
        GSettingsSchema *schema = source ? g_settings_schema_source_lookup(source, Schema, TRUE) : nullptr;
        if (schema && hasStringKey(schema)) {
            m_backend = freshBackend();
            m_settings = g_settings_new_full(schema, m_backend, nullptr);
        }
        if (schema)
            g_settings_schema_unref(schema);
    }
    ~ProxySettings()
    {
        if (m_settings)
            g_object_unref(m_settings);
        if (m_backend)
            g_object_unref(m_backend);
    }
    ProxySettings(const ProxySettings &) = delete;
    ProxySettings &operator=(const ProxySettings &) = delete;

    bool isValid() const { return m_settings != nullptr; }

    QByteArray mode() const
    {
        gchar *value = g_settings_get_string(m_settings, Key);
        const QByteArray mode(value);
        g_free(value);
        return mode;
    }

    bool setMode(const char *mode)
    {
        if (!g_settings_set_string(m_settings, Key, mode))
            return false;
        sync();
        return true;
    }

private:
    // A schema of that name whose "mode" is not a text would abort the getter and setter.
    static bool hasStringKey(GSettingsSchema *schema)
    {
        if (!g_settings_schema_has_key(schema, Key))
            return false;
        GSettingsSchemaKey *key = g_settings_schema_get_key(schema, Key);
        const bool isString = g_variant_type_equal(g_settings_schema_key_get_value_type(key), G_VARIANT_TYPE_STRING);
        g_settings_schema_key_unref(key);
        return isString;
    }

    // The process's default backend is shared and learns of other writers only through a GLib main
    // loop, which this thread does not run (the keyfile backend then reads a stale copy and writes
    // it back over theirs). A new one of the same kind reads the store as it is now.
    static GSettingsBackend *freshBackend()
    {
        GSettingsBackend *shared = g_settings_backend_get_default();
        const GType type = G_OBJECT_TYPE(shared);
        g_object_unref(shared);
        return G_SETTINGS_BACKEND(g_object_new(type, nullptr));
    }

    // What g_settings_sync() does for the default backend: the write reaches the store (dconf's
    // goes over the bus) before we go on.
    void sync()
    {
        GSettingsBackendClass *backendClass = G_SETTINGS_BACKEND_GET_CLASS(m_backend);
        if (backendClass->sync)
            backendClass->sync(m_backend);
    }

    GSettingsBackend *m_backend = nullptr;
    GSettings *m_settings = nullptr;
};

} // namespace

bool NetworkProxySwitch::readSystemFlags(quint32 *flags)
{
    const ProxySettings settings;
    if (!settings.isValid())
        return false;
    const QByteArray mode = settings.mode();
    if (mode == "none")
        *flags = ProxyTypeDirect;
    else if (mode == "manual")
        *flags = ProxyTypeProxy;
    else if (mode == "auto")
        *flags = ProxyTypeAutoProxyUrl;
    else
        return false; // a mode we could not put back
    return true;
}

bool NetworkProxySwitch::writeSystemFlags(quint32 flags)
{
    const char *mode = nullptr;
    if (flags == ProxyTypeDirect)
        mode = "none";
    else if (flags & ProxyTypeAutoProxyUrl)
        mode = "auto";
    else if (flags & ProxyTypeProxy)
        mode = "manual";
    else
        return false;
    ProxySettings settings;
    return settings.isValid() && settings.setMode(mode);
}
