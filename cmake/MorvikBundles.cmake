# Installs the factory presets into every bundle the build makes (filled in with the preset library).
