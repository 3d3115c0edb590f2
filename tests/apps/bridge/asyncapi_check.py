"""Checks events against apps/bridge/asyncapi.yaml: the channel their
routing key falls in, the message type, and the payload against its schema
(the JSON Schema keywords the document uses: $ref, allOf, type, enum,
properties, required, additionalProperties, items).  A field the document
does not describe, or one it promises and the event lacks, is a problem."""
import os
import re

import yaml

PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, os.pardir, "apps", "bridge",
                    "asyncapi.yaml")
TYPES = {"integer": lambda v: isinstance(v, int) and not isinstance(v, bool), "boolean": lambda v: isinstance(v, bool),
         "string": lambda v: isinstance(v, str), "null": lambda v: v is None, "array": lambda v: isinstance(v, list),
         "object": lambda v: isinstance(v, dict)}


class Document:
    def __init__(self, path=PATH):
        with open(path) as f:
            self.doc = yaml.safe_load(f)
        self.channels = []
        for name, channel in self.doc["channels"].items():
            if "subscribe" in channel:
                pattern = re.escape(name).replace(r"\{", "{").replace(r"\}", "}")
                self.channels.append((re.compile(re.sub(r"{[A-Za-z]+}", "[^.]+", pattern)),
                                      self.resolve(channel["subscribe"]["message"])))

    def resolve(self, schema):
        while isinstance(schema, dict) and "$ref" in schema:
            node = self.doc
            for part in schema["$ref"].lstrip("#/").split("/"):
                node = node[part]
            schema = node
        return schema

    def problems(self, routing_key, body, message_type):
        for pattern, message in self.channels:
            if pattern.fullmatch(routing_key):
                found = [] if message["name"] == message_type else ["type %s, not %s" % (message_type, message["name"])]
                return found + self.validate(body, message["payload"], "body")
        return ["no channel for " + routing_key]

    def validate(self, value, schema, where):
        schema = self.resolve(schema)
        out = []
        for part in schema.get("allOf", []):
            out += self.validate(value, part, where)
        kinds = schema.get("type")
        if kinds and not any(TYPES[k](value) for k in ([kinds] if isinstance(kinds, str) else kinds)):
            return out + ["%s: %r is not %s" % (where, value, kinds)]
        if "enum" in schema and value not in schema["enum"]:
            out.append("%s: %r is none of %s" % (where, value, schema["enum"]))
        if isinstance(value, dict):
            properties = schema.get("properties", {})
            out += ["%s: %s missing" % (where, k) for k in schema.get("required", []) if k not in value]
            for k, v in value.items():
                if k in properties:
                    out += self.validate(v, properties[k], where + "." + k)
                elif schema.get("additionalProperties") is False:
                    out.append("%s.%s is not described" % (where, k))
        if isinstance(value, list) and "items" in schema:
            for i, v in enumerate(value):
                out += self.validate(v, schema["items"], "%s[%d]" % (where, i))
        return out
