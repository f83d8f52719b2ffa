#include "writers/snmpd.h"

#include "settings/layout.h"
#include "writers/values.h"

using settings::F;
using writers::value;

void compose_snmpd_conf(const std::uint8_t *image, OutputBuffer &out)
{
    std::string ro = value(image, F("rocommunity")), rw = value(image, F("rwcommunity"));
    out.clear();
    out.append("syslocation %s\nsyscontact %s\nrocommunity %s\nrocommunity6 %s\nrwcommunity %s\nrwcommunity6 %s\n",
               value(image, F("syslocation")).c_str(), value(image, F("syscontact")).c_str(), ro.c_str(),
               ro.c_str(), rw.c_str(), rw.c_str());
    settings::Field receivers = F("trapReceivers");
    for (unsigned k = 0; k < receivers.count; ++k) {
        if (settings::get_text(image, receivers, k).empty())
            continue;  // an empty entry names no destination
        out.append("trapsink %s %s\n", value(image, receivers, k).c_str(),
                   value(image, F("trapCommunities"), k).c_str());
    }
}

