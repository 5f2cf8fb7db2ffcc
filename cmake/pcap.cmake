# Packet capture for the link-layer discovery channel (comm/commlink.*) and
# the device simulator's link-layer responder.
pkg_check_modules(PCAP REQUIRED IMPORTED_TARGET libpcap)
target_link_libraries(fieldmate_core PUBLIC PkgConfig::PCAP)
