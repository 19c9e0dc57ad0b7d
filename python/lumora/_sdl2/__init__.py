"""Thin bindings of SDL itself."""
