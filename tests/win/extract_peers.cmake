# ZIP archives made on the host by Info-ZIP zip and 7-Zip, for the
# extraction tests against archives of other programs.  The set-up installs
# both; an archive that is absent fails its test.
set(SFX_PEERS_DIR ${CMAKE_BINARY_DIR}/peers)
add_custom_command(OUTPUT ${SFX_PEERS_DIR}/stamp
    COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/make_peer_zips.sh ${SFX_PEERS_DIR}
    DEPENDS ${CMAKE_SOURCE_DIR}/scripts/make_peer_zips.sh
    COMMENT "Making ZIP archives with the peer programs")
add_custom_target(extract_peer_zips DEPENDS ${SFX_PEERS_DIR}/stamp)
if(TARGET extract_peers_test)
  add_dependencies(extract_peers_test extract_peer_zips)
endif()
