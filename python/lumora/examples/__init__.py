"""Example programs that use lumora.

Run one with ``python -m lumora.examples.<name>``:

- ``collector``: steer a ship with the arrow keys (or WASD), pick up coins
  and dodge the red hazards.
"""
