#pragma once

#include "kestrix/documents/site_administration.h"

namespace kestrix {

/// The <sendmethod> element of the site file, by which a partner receives a document type:
///
///     <sendmethod partner="Alder Components" doctype="ORDER" protocol="ftp"
///                 address="ftp://files.alder.example/in" user="kestrix" password="..."
///                 format="xml" port="21" proxy="" proxyport="" filename="order"
///                 suffix="docid" extension="xml" fileformat="ascii" writemode=""
///                 template="" transfertype="binary" xsl="" autopush="1" rule="-1"/>
///
/// The words are those of `send_method_words`; what is left out is what a new send method
/// is (`NewSendMethodProperties`), the rule -1 (the partner's default send methods). A
/// send method is known by partner, type, rule, protocol and address: applying the file
/// again changes it in place, or leaves it alone when nothing differs.
SiteFileElement SendMethodSiteElement();

}  // namespace kestrix
