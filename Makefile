# make check : installs what is missing, builds with the sanitizers and runs every test.
# make demo  : installs what is missing, builds a release and runs the client.
# make package [VPN_CA=FILE] : the Debian package in build/package/, checked by lintian.
# make windows [VPN_CA=FILE] : Nimbora for 64-bit Windows and its installer in build/windows/, tried under Wine.

BUILD_ROOT  ?= build
CHECK_DIR   := $(BUILD_ROOT)/check
RELEASE_DIR := $(BUILD_ROOT)/release
PACKAGE_DIR := $(BUILD_ROOT)/package
JOBS        ?= $(shell nproc)

.PHONY: all check demo packages layers translations-check check-build test windows-check release package clean windows

all: release

packages:
	@scripts/install-packages packages

layers:
	scripts/check-layers

check-build: packages layers
	cmake -S . -B $(CHECK_DIR) -DCMAKE_BUILD_TYPE=Debug -DNIMBORA_SANITIZE=ON \
	    -DNIMBORA_PACKAGE_DIR=$(abspath $(PACKAGE_DIR))
	cmake --build $(CHECK_DIR) -j $(JOBS)

# The package's tests take the package, and a Debian root with what it depends on, made and filled
# beforehand: the tests themselves download nothing.
.PHONY: package-root
package-root: package
	scripts/package-root "$$(ls -t $(PACKAGE_DIR)/nimbora_*.deb | head -n 1)"

test: check-build package-root
	cd $(CHECK_DIR) && ctest --output-on-failure -j $(JOBS)

windows-check: check-build
	scripts/check-windows-sources $(CHECK_DIR)

translations-check: packages
	scripts/check-translations

check: test windows-check translations-check

release: packages
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build $(RELEASE_DIR) -j $(JOBS)

demo: release
	scripts/demo $(RELEASE_DIR)/app/nimbora

package: packages
	desktop-file-validate resources/linux/nimbora.desktop
	deb=$$(scripts/package $(if $(VPN_CA),--vpn-ca $(VPN_CA)) $(PACKAGE_DIR)) && \
	    lintian --fail-on error,warning "$$deb" && echo "$$deb"

# Qt and OpenSSL are cross-built once into ~/.cache/nimbora; not part of make check.
windows: packages
	@scripts/install-packages packages/windows
	JOBS=$(JOBS) scripts/windows $(if $(VPN_CA),--vpn-ca $(VPN_CA)) $(BUILD_ROOT)/windows

clean:
	rm -rf $(BUILD_ROOT)
