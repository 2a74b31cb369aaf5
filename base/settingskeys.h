#ifndef NIMBORA_BASE_SETTINGSKEYS_H
#define NIMBORA_BASE_SETTINGSKEYS_H

#include <QString>
#include <QStringList>

// The settings contract: every key of the store and the default a reader passes with it.
// There is deliberately no settings class; readers build a short-lived QSettings and read
// value(Key, Default). Defaults that depend on the machine or on GlobalValues are functions.
namespace SettingsKeys {

constexpr char ApplicationVersion[] = "application/version";

constexpr char AuthenticationUsername[] = "authentication/username";
constexpr char AuthenticationPassword[] = "authentication/password";
constexpr char AuthenticationAutoLogin[] = "authentication/autoLogin";
constexpr bool AuthenticationAutoLoginDefault = false;

constexpr char MainWindowPreferedServer[] = "mainWindow/servers/prefered";
constexpr char MainWindowProtocol[] = "mainWindow/servers/protocol"; // read only when present

constexpr char PortMappingEntries[] = "portMapping/entries";

constexpr char Options[] = "options";

constexpr char Language[] = "options/general/language";
QString defaultLanguage(); // the system locale's name cut before its first "_"
constexpr char LaunchAtStartup[] = "options/general/launchAtStartup";
constexpr bool LaunchAtStartupDefault = false;
constexpr char StartMinimized[] = "options/general/startMinimized";
constexpr bool StartMinimizedDefault = false;
constexpr char AutoConnect[] = "options/general/autoConnect";
constexpr bool AutoConnectDefault = false;
constexpr char AutoReconnect[] = "options/general/autoReconnect";
constexpr bool AutoReconnectDefault = true;
constexpr char CheckForUpdates[] = "options/general/checkForUpdates";
constexpr bool CheckForUpdatesDefault = true;

constexpr char MainServerAddress[] = "options/connection/mainServerAddress";
QString defaultMainServerAddress();
constexpr char MainServerSecure[] = "options/connection/mainServerSecure";
constexpr bool MainServerSecureDefault = true;
constexpr char Proxy[] = "options/connection/proxy";
constexpr char ProxyDefault[] = "system";
constexpr char HttpProxyHost[] = "options/connection/httpProxyHost";
constexpr char HttpProxyPort[] = "options/connection/httpProxyPort";
constexpr int HttpProxyPortDefault = 3128;
constexpr char SocksProxyHost[] = "options/connection/socksProxyHost";
constexpr char SocksProxyPort[] = "options/connection/socksProxyPort";
constexpr int SocksProxyPortDefault = 1080;

constexpr char UserAgent[] = "options/stealth/userAgent";
QString defaultUserAgent(); // GlobalValues "defaultUserAgent"
constexpr char IpAddress[] = "options/stealth/ipAddress";
constexpr bool IpAddressDefault = true;
constexpr char DnsServer[] = "options/stealth/dnsServer";
constexpr bool DnsServerDefault = true;

constexpr char Redirect[] = "options/network/redirect";
constexpr bool RedirectDefault = true;
constexpr char DisableSystemProxy[] = "options/network/disableSystemProxy";
constexpr bool DisableSystemProxyDefault = true;
constexpr char OverrideDefaultGateway[] = "options/network/overrideDefaultGateway";
constexpr bool OverrideDefaultGatewayDefault = true;
constexpr char SocksServer[] = "options/network/socksServer";
constexpr bool SocksServerDefault = true;
constexpr char SocksServerPort[] = "options/network/socksServerPort";
constexpr int SocksServerPortDefault = 1080;
constexpr char WindowsIpMethod[] = "options/network/windowsIpMethod";
constexpr char WindowsIpMethodDefault[] = "dynamic";
constexpr char Exceptions[] = "options/network/exceptions";
// With redirect: nothing leaves outside the tunnel from the connection's start to the user's
// disconnection, a drop included.
constexpr char KillSwitch[] = "options/network/killSwitch";
constexpr bool KillSwitchDefault = true;
constexpr char AllowLocalNetwork[] = "options/network/allowLocalNetwork";
constexpr bool AllowLocalNetworkDefault = false;

constexpr char ProxyAutoAuth[] = "proxyAuthentication/autoAuth";
constexpr bool ProxyAutoAuthDefault = false;
constexpr char ProxyUsername[] = "proxyAuthentication/username";
constexpr char ProxyPassword[] = "proxyAuthentication/password";

constexpr char TunnelHttp[] = "tunnelSettings/http";
constexpr char TunnelHttpStreaming[] = "tunnelSettings/http/streaming";
constexpr bool TunnelHttpStreamingDefault = true;
constexpr char TunnelHttpFileUpload[] = "tunnelSettings/http/fileUpload";
constexpr bool TunnelHttpFileUploadDefault = true;

// Keys of earlier versions, migrated and removed at every start.
constexpr char LegacyHttpProxy[] = "options/connection/httpProxy";
constexpr char LegacySocksProxy[] = "options/connection/socksProxy";
constexpr char LegacyProxyMode[] = "options/connection/proxyMode";
constexpr char LegacyConnectionMode[] = "options/connection/connectionMode";

// Start with the computer: the value name in the Run key on Windows.
constexpr char RunKeyPath[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char RunValueName[] = "Nimbora";

// The keys of a numbered list (the exceptions, the saved port mappings) in list order: the store
// gives them in text order, where "10" comes before "2". Keys that are not numbers come last.
QStringList inNumericOrder(QStringList keys);

} // namespace SettingsKeys

#endif
