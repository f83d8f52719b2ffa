// Writers not built yet: each does nothing.
#include "writers/writers.h"

void write_ldap_settings_to_fs(void) {}
void write_user_settings_to_fs(void) {}
void write_group_settings_to_fs(void) {}
void write_bay_settings_to_fs(void) {}
void write_blade_signatures_to_fs(void) {}
void write_mln_settings_to_fs(void) {}
void write_ldap_group_settings_to_fs(void) {}
void write_urb_settings_to_fs(void) {}
void write_fw_mgmt_settings_to_fs(void) {}
void write_kat_info_to_fs(void) {}
