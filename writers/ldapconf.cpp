// /etc/ldapconf: the directory service settings as key=value lines.
#include "settings/image.h"
#include "writers/compose.h"
#include "writers/outputs.h"
#include "writers/values.h"
#include "writers/writers.h"

using namespace settings;

void compose_ldapconf(const std::uint8_t *image, OutputBuffer &out)
{
    std::string server = writers::value(image, F("directoryServerIPAddress"));
    std::string context1 = writers::value(image, F("searchContext1"));
    std::string context2 = writers::value(image, F("searchContext2"));
    std::string context3 = writers::value(image, F("searchContext3"));
    std::string account = writers::value(image, F("serviceAccount"));
    std::string password = writers::value(image, F("serviceAccountPassword"));
    // The image holds three search contexts; the service reads six keys.
    out.append("enable=%d\nenableLocalUsers=%d\nntNameMapping=%d\ndirectoryServerIPAddress=%s\n"
               "directoryServerSSLPort=%d\ndirectoryServerGCPort=%d\nsearchContext1=%s\n"
               "searchContext2=%s\nsearchContext3=%s\nsubjectAltName=%d\nserviceAccountFlag=%d\n"
               "serviceAccount=%s\nserviceAccountPassword=%s\nsearchContext4=%s\n"
               "searchContext5=%s\nsearchContext6=%s\n",
               writers::number(image, F("enable")),
               writers::number(image, F("enableLocalUsers")),
               writers::number(image, F("ntNameMapping")), server.c_str(),
               get_i(image, F("directoryServerSSLPort")), get_i(image, F("directoryServerGCPort")),
               context1.c_str(), context2.c_str(), context3.c_str(),
               writers::number(image, F("subjectAltName")),
               writers::number(image, F("serviceAccountFlag")), account.c_str(),
               password.c_str(), "", "", "");
}

void write_ldap_settings_to_fs(void)
{
    write_output(Output::Ldapconf);
}
