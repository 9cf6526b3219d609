# Test scripts run by CTest beside the GoogleTest suites.

# Packaging: builds the .deb from this build folder, unpacks it and checks the installed tree;
# exits 77 (skipped) when a validator such as lintian is not installed.
add_test(NAME package_check
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/packaging/check_package.sh ${PROJECT_BINARY_DIR})
set_tests_properties(package_check PROPERTIES LABELS package SKIP_RETURN_CODE 77 TIMEOUT 900)
