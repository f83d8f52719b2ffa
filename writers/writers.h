// The configuration file writers: each composes its file from the settings
// image and writes it whole, or ends the run through cleanup_and_exit.
#pragma once

void write_enclosure_settings_to_fs(void);   // /etc/wrenconf
void write_network_settings_to_fs(void);     // /etc/netconf and /etc/snmp/snmpd.conf
void write_ldap_settings_to_fs(void);        // /etc/ldapconf
void write_user_settings_to_fs(void);        // /etc/passwd
void write_group_settings_to_fs(void);       // /etc/group
void write_bay_settings_to_fs(void);         // /etc/bayconf
void write_blade_signatures_to_fs(void);     // /etc/bladesig
void write_mln_settings_to_fs(void);         // /etc/mlninfo
void write_ldap_group_settings_to_fs(void);  // /etc/ldapgroup
void write_urb_settings_to_fs(void);         // /etc/urb.conf
void write_fw_mgmt_settings_to_fs(void);     // /etc/firmwaremgmt.conf
void write_kat_info_to_fs(void);             // /etc/KAT.info
